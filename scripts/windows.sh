#!/usr/bin/env bash
# Builds Kivmod.dll for x86_64 and i686 with mingw-w64 and runs the Windows tests under a
# headless Wine: all of them for x86_64, with the end-to-end copy over a COM port against the
# Linux simulated phone of build/release when it is there; for i686 the export and import
# check, and the tests where 32-bit Wine is installed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --windows
phonesim=$PWD/build/release/tools/kivmod-phonesim
[ -x "$phonesim" ] || phonesim=""
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)

cmake --preset windows-x64 "${generator[@]}" -DKIVMOD_LINUX_PHONESIM="$phonesim"
cmake --build build-win64
export WINEPREFIX=$PWD/build-win64/wineprefix
trap 'wineserver -k 2>/dev/null || true' EXIT
bash scripts/wine/prefix.sh >/dev/null
ctest --test-dir build-win64 --output-on-failure -j2 --timeout 300

i686_tests=OFF
[ -e /usr/lib/wine/wine ] && i686_tests=ON
cmake --preset windows-x86 "${generator[@]}" -DKIVMOD_TESTS=$i686_tests
cmake --build build-win32
sh tests/win32/check_dll.sh i686-w64-mingw32-objdump build-win32/Kivmod.dll src/boundary/exports.txt
if [ $i686_tests = ON ]; then
  ctest --test-dir build-win32 --output-on-failure -j2 --timeout 300
fi
