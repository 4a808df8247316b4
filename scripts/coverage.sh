#!/usr/bin/env bash
# Line coverage of src/ by the whole test suite: a Debug build with gcov instrumentation in
# build/cov, every ctest test, then gcovr's summary (the "lines:" figure is the one we track).
#   scripts/coverage.sh            # summary and per-file table
#   scripts/coverage.sh --summary  # summary only
set -euo pipefail
cd "$(dirname "$0")/.."
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-/work} CCACHE_DIR=${CCACHE_DIR:-/work/.ccache}
launcher=()
if command -v ccache > /dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build/cov -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKIVMOD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS=--coverage -DCMAKE_C_FLAGS=--coverage \
  -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage "${launcher[@]}" > /dev/null
cmake --build build/cov -j2
# Counts from an earlier run would add to this one.
find build/cov -name '*.gcda' -delete
ctest --test-dir build/cov -j2 --timeout 300 --output-on-failure
if [[ "${1:-}" == "--summary" ]]; then
  # gcovr replaces its output file: the full report goes to a file of the build, never to /dev/null.
  gcovr -r . --filter 'src/' --object-directory build/cov --print-summary -o build/cov/coverage.txt 2> /dev/null
else
  gcovr -r . --filter 'src/' --object-directory build/cov --print-summary --txt - 2> /dev/null
fi
