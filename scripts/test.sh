#!/usr/bin/env bash
# Builds the library, tools and tests and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/release
ctest --test-dir build/release --output-on-failure -j2 --timeout 300
