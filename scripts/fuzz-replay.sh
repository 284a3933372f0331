#!/usr/bin/env bash
# CI: the fuzz targets built with the normal compiler under AddressSanitizer and
# UndefinedBehaviorSanitizer, each replaying its committed corpus (fuzz/corpus/) plus a fixed
# number of deterministic mutations per file (FUZZ_REPLAY_MUTATIONS, default 200). A crash, a
# sanitizer report, an escaped exception or an input running longer than 20 s fails; the input is
# kept as build-fuzz-replay/fuzz/fuzz-finding-TARGET.bin.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=build-fuzz-replay
TARGETS=(engine_main_fuzzer engine_typed_fuzzer project_binary_fuzzer project_text_fuzzer
         settings_fuzzer passport_fuzzer col_fuzzer import_fuzzer formula_fuzzer
         bro_fuzzer step_fuzzer)
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSANITIZE=ON \
  -DBUILD_FUZZ=ON -DBUILD_TOOLS=OFF -DBUILD_BENCH=OFF \
  -DFUZZ_REPLAY_MUTATIONS="${FUZZ_REPLAY_MUTATIONS:-200}" >/dev/null
cmake --build "$BUILD_DIR" --target "${TARGETS[@]}" -j"$(nproc)"
ASAN_OPTIONS=detect_leaks=1:max_allocation_size_mb=2048 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$BUILD_DIR" -L fuzz --output-on-failure -j"$(nproc)"
