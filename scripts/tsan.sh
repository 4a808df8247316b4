#!/usr/bin/env bash
# ThreadSanitizer run of the tests that use threads: the cancels from another thread, the
# byte-stream links with their reader threads, and the command-line tool (whose Ctrl-C
# thread cancels the copy). Not part of CI: the build alone takes several minutes on two
# cores. Usage: scripts/tsan.sh [BUILD_DIR]   (default build/tsan)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/tsan}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIVMOD_TSAN=ON -DKIVMOD_BENCH=OFF \
  ${CMAKE_CXX_COMPILER_LAUNCHER:+-DCMAKE_CXX_COMPILER_LAUNCHER=$CMAKE_CXX_COMPILER_LAUNCHER}
cmake --build "$build" -j2 --target kivmod_tests kivmod-cli kivmod-phonesim
# Any report fails the run.
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1"
"$build/tests/kivmod_tests" \
  --gtest_filter='*Abort*:*Cancel*:*Thread*:StreamChannel*:PtySession*:*Pty*'
python3 tests/cli/test_cli.py "$build/tools/kivmod"
echo "ThreadSanitizer: no reports"
