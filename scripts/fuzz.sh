#!/usr/bin/env bash
# Fuzzes file readers with libFuzzer under AddressSanitizer and UndefinedBehaviorSanitizer.
#   bash scripts/fuzz.sh TARGET SECONDS
# TARGET is a fuzz target of fuzz/ (e.g. engine_typed_fuzzer) or a group that shares the seconds
# among its targets: engine, project, imports. Needs clang and libFuzzer (Debian: clang,
# libclang-rt-14-dev). Builds into build-fuzz/; new inputs go to build-fuzz/corpus/TARGET (the
# committed seeds in fuzz/corpus/TARGET are only read) and findings to build-fuzz/findings/.
# The fuzzer runs at the lowest priority (nice 19), one process at a time.
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ $# -ne 2 || ! "$2" =~ ^[0-9]+$ ]]; then
  echo "Usage: bash scripts/fuzz.sh TARGET|engine|project|imports SECONDS" >&2
  exit 2
fi
case "$1" in
  engine) targets=(engine_main_fuzzer engine_typed_fuzzer) ;;
  project) targets=(project_binary_fuzzer project_text_fuzzer settings_fuzzer passport_fuzzer
                    col_fuzzer bro_fuzzer step_fuzzer) ;;
  imports) targets=(import_fuzzer formula_fuzzer) ;;
  *) targets=("$1") ;;
esac
for t in "${targets[@]}"; do
  if [[ ! -d "fuzz/corpus/$t" ]]; then
    echo "fuzz: unknown target $t (no fuzz/corpus/$t)" >&2
    exit 2
  fi
done
command -v clang++ >/dev/null || { echo "fuzz: clang++ is missing (apt-get install clang libclang-rt-14-dev)" >&2; exit 1; }

BUILD_DIR=build-fuzz
export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-$(command -v ccache || true)}
export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-$(command -v ccache || true)}
if [[ ! -f "$BUILD_DIR/CMakeCache.txt" ]]; then
  CC=clang CXX=clang++ cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBUILD_FUZZ=ON -DFUZZ_LIBFUZZER=ON -DSANITIZE=ON -DBUILD_TOOLS=OFF -DBUILD_BENCH=OFF >/dev/null
fi
cmake --build "$BUILD_DIR" --target "${targets[@]}" -j2

seconds=$(( $2 / ${#targets[@]} ))
(( seconds > 0 )) || seconds=1
mkdir -p "$BUILD_DIR/findings"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:max_allocation_size_mb=2048}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
for t in "${targets[@]}"; do
  mkdir -p "$BUILD_DIR/corpus/$t"
  echo "fuzz: $t for $seconds s"
  rc=0
  nice -n 19 "$BUILD_DIR/fuzz/$t" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
    -max_len=65536 -print_final_stats=1 -artifact_prefix="$PWD/$BUILD_DIR/findings/$t-" \
    "$PWD/$BUILD_DIR/corpus/$t" "$PWD/fuzz/corpus/$t" >"$BUILD_DIR/findings/$t.log" 2>&1 || rc=$?
  grep -E '^#[0-9]+ +(INITED|DONE)|^stat::(number_of_executed_units|peak_rss)|ERROR|SUMMARY|Test unit written' \
    "$BUILD_DIR/findings/$t.log" || true
  if [[ $rc -ne 0 ]]; then
    echo "fuzz: $t FAILED (exit $rc), see $BUILD_DIR/findings/$t.log"
    status=1
  fi
done
exit $status
