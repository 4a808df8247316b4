#!/usr/bin/env bash
# Makes the headless Wine prefix the Windows tests run in (WINEPREFIX, default
# build-win64/wineprefix) and starts its servers with their output on /dev/null, so that
# ctest never waits for Wine's helper processes. Safe to run again: an existing prefix is
# only woken.
set -euo pipefail
export WINEPREFIX=${WINEPREFIX:-$(cd "$(dirname "$0")/../.." && pwd)/build-win64/wineprefix}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 </dev/null
  # wineboot returns before the new prefix's registry is written out: settings made before
  # then are lost.
  wineserver -w
  # The null graphics driver with a virtual desktop: hidden top-level windows work without X.
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 </dev/null
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1 </dev/null
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600 /f >/dev/null 2>&1 </dev/null
  wineserver -w
fi
# Servers stay up between tests; their inherited descriptors point at /dev/null.
wineserver -p30 >/dev/null 2>&1 </dev/null || true  # already up
wine cmd /c exit >/dev/null 2>&1 </dev/null || true
echo "$WINEPREFIX"
