#!/usr/bin/env bash
# Runs one fuzz target for a time budget, seeded from fuzz/corpus/TARGET (new inputs that
# reach new code are added there). Builds the targets with clang, ASan and UBSan first.
# Not part of CI.   Usage: fuzz/run.sh TARGET SECONDS [BUILD_DIR]
#   TARGET: frame, session, xml_list, backup_file, resume, media, email, backup_agent
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:?usage: fuzz/run.sh TARGET SECONDS [BUILD_DIR]}
seconds=${2:?usage: fuzz/run.sh TARGET SECONDS [BUILD_DIR]}
build=${3:-build/fuzz}
if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIVMOD_FUZZ=ON \
    -DKIVMOD_TESTS=OFF -DKIVMOD_BENCH=OFF \
    ${CMAKE_CXX_COMPILER_LAUNCHER:+-DCMAKE_CXX_COMPILER_LAUNCHER=$CMAKE_CXX_COMPILER_LAUNCHER}
fi
cmake --build "$build" -j2 --target "${target}_fuzz"
corpus=fuzz/corpus/$target
mkdir -p "$corpus"
# Findings (crash-*, leak-*, timeout-*) land in the build folder, not in the corpus.
export ASAN_OPTIONS="detect_leaks=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"
"$build/fuzz/${target}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$build/${target}-" -print_final_stats=1 "$corpus"
