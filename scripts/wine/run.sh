#!/usr/bin/env bash
# ctest's emulator for the Windows tests: runs one Windows program under Wine in the tests'
# prefix (scripts/wine/prefix.sh) and passes its output through a file, so that Wine's
# long-lived helpers never hold ctest's pipe open.
set -uo pipefail
export WINEPREFIX=${WINEPREFIX:-$(cd "$(dirname "$0")/../.." && pwd)/build-win64/wineprefix}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
program=$1
shift
# wine64 alone runs a 32-bit program into a silent crash that exits 0: refuse it instead.
machine=$(od -An -tx2 -j $(( $(od -An -tu4 -j60 -N4 "$program") + 4 )) -N2 "$program" | tr -d ' ')
if [ "$machine" = 014c ] && ! command -v wine32 >/dev/null && [ ! -e /usr/lib/wine/wine ] ; then
  echo "run.sh: $program is a 32-bit program and this Wine runs 64-bit ones only" >&2
  exit 125
fi
[ -f "$WINEPREFIX/system.reg" ] || bash "$(dirname "$0")/prefix.sh" >/dev/null
# Absolute Linux paths among the arguments become the Z: drive's names for them.
args=()
for a in "$@"; do
  if [[ $a == /* && -e $a ]]; then a="Z:${a//\//\\}"; fi
  args+=("$a")
done
out=$(mktemp)
trap 'rm -f "$out"' EXIT
wine "$program" "${args[@]}" >"$out" 2>&1 </dev/null
status=$?
cat "$out"
exit $status
