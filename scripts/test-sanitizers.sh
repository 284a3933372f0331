#!/usr/bin/env bash
# Builds the engine alone with AddressSanitizer and UndefinedBehaviorSanitizer and runs its tests.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=build-sanitize bash scripts/build.sh -DSANITIZE=ON -DBUILD_APP=OFF -DBUILD_TOOLS=OFF \
  -DBUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-sanitize --output-on-failure -j"$(nproc)"
