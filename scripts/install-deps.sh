#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the demo need; with --windows,
# also the mingw-w64 cross compilers and Wine for the Windows DLL and its tests.
set -euo pipefail
packages=(cmake ninja-build gcc g++ pkg-config libxml2-dev libgtest-dev libgmock-dev googletest
          libbenchmark-dev python3 libbluetooth-dev libtag1-dev libzip-dev libgmime-3.0-dev zlib1g-dev
          nlohmann-json3-dev help2man libinih-dev libcli11-dev)
if [ "${1:-}" = "--windows" ]; then
  packages+=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 googletest libz-mingw-w64-dev)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
