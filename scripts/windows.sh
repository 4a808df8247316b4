#!/usr/bin/env bash
# Builds Kivmod.dll for x86_64 and i686 with mingw-w64 and runs the Windows tests under a
# headless Wine: all of them for x86_64, with the end-to-end copy over a COM port against the
# Linux simulated phone of build/release when it is there, then the open-folder and copy
# benches under Wine beside their Linux runs from build/release; for i686 the export and
# import check, and the tests where 32-bit Wine is installed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --windows
phonesim=$PWD/build/release/tools/kivmod-phonesim
[ -x "$phonesim" ] || phonesim=""
# Ninja for new build folders; an existing one keeps the generator it was made with.
generator() { [ -f "$1/CMakeCache.txt" ] || ! command -v ninja >/dev/null || echo "-G Ninja"; }

cmake --preset windows-x64 $(generator build-win64) -DKIVMOD_LINUX_PHONESIM="$phonesim"
cmake --build build-win64
export WINEPREFIX=$PWD/build-win64/wineprefix
trap 'wineserver -k 2>/dev/null || true' EXIT
bash scripts/wine/prefix.sh >/dev/null
ctest --test-dir build-win64 --output-on-failure -j2 --timeout 300

# The open-folder and copy benches under Wine beside the same benches on Linux from
# build/release: both opens list one folder of 100,000 files served over TCP by the Linux
# simulated phone, so that only the library's system differs. One summary line per bench.
source tests/win32/phone.sh
wine_benches() {
  release=$PWD/build/release/bench files=100000 sim=""
  tmp=$(mktemp -d)
  trap '[ -n "$sim" ] && kill "$sim" 2>/dev/null; rm -rf "$tmp"' EXIT
  mkdir -p "$tmp/phone/Music"
  (cd "$tmp/phone/Music" && seq -f 'track %06g.mp3' 0 $((files - 1)) | xargs -d '\n' touch)
  start_phone "$phonesim" "$tmp/phone" "$tmp/sim.out" --tcp 0
  sim=$phone_pid port=${phone_at##*:}
  echo "== open_folder_bench, Linux"
  "$release/open_folder_bench" $files "tcp:127.0.0.1:$port" | tee "$tmp/open.linux"
  echo "== open_folder_bench, Wine"
  bash scripts/wine/run.sh build-win64/bench/open_folder_bench.exe $files "tcp:127.0.0.1:$port" | tee "$tmp/open.wine"
  echo "== copy_bench, Linux"
  "$release/copy_bench" | tee "$tmp/copy.linux"
  echo "== copy_bench, Wine"
  bash scripts/wine/run.sh build-win64/bench/copy_bench.exe | tee "$tmp/copy.wine"
  echo "== Wine against Linux"
  awk -v files=$files '
    FNR == 1 { wine = FILENAME ~ /wine$/ }
    /^Kiv_OpenFolder/ { open[wine] = $2 }
    /^replayed open/ { replayed[wine] = $3 }
    wine && / parse  / { parse = $3 }
    wine && /^engine read/ { engine = $3 }
    END {
      printf "open_folder_bench: %d files, Kiv_OpenFolder Wine %.0f ms, Linux %.0f ms: %.2f x (goal under Wine: under 2000 ms, %s);", files, open[1], open[0], open[1] / open[0], open[1] < 2000 ? "met" : "MISSED"
      printf " the library alone (replayed listing) %.0f ms, %.0f ms: %.2f x; MSXML parse %.0f ms, %.0f %% of it (with the walk of its nodes %.0f ms, %.0f %%)\n", replayed[1], replayed[0], replayed[1] / replayed[0], parse, 100 * parse / replayed[1], engine, 100 * engine / replayed[1]
    }' "$tmp/open.linux" "$tmp/open.wine"
  awk '
    FNR == 1 { wine = FILENAME ~ /wine$/ }
    /^packet 32768 library alone/ { down[wine] = $8; up[wine] = $16 }
    END {
      printf "copy_bench: the library alone, 32768-byte packets: PC to phone Wine %.0f MB/s, Linux %.0f MB/s: %.2f x;", down[1], down[0], down[1] / down[0]
      printf " phone to PC Wine %.0f MB/s, Linux %.0f MB/s: %.2f x\n", up[1], up[0], up[1] / up[0]
    }' "$tmp/copy.linux" "$tmp/copy.wine"
}
if [ -n "$phonesim" ] && [ -x build/release/bench/open_folder_bench ] && [ -x build/release/bench/copy_bench ]; then
  (wine_benches)
else
  echo "benches under Wine skipped: build/release has no kivmod-phonesim or benches to run beside them"
fi

i686_tests=OFF
[ -e /usr/lib/wine/wine ] && i686_tests=ON
cmake --preset windows-x86 $(generator build-win32) -DKIVMOD_TESTS=$i686_tests
cmake --build build-win32
sh tests/win32/check_dll.sh i686-w64-mingw32-objdump build-win32/Kivmod.dll src/boundary/exports.txt
if [ $i686_tests = ON ]; then
  ctest --test-dir build-win32 --output-on-failure -j2 --timeout 300
fi
