#!/usr/bin/env bash
# Checks that the engine library exports exactly BravikScan and Bravik.
# Usage: exports_test.sh LIBBRAVIK_SO
set -u
if ! command -v nm >/dev/null; then
  echo "nm not found: skipped"
  exit 77
fi
symbols="$(nm -D --defined-only "$1" | awk '$2 ~ /^[TtDdBbRrWwVvi]$/ {print $3}' | sort)"
expected="$(printf 'Bravik\nBravikScan\n')"
if [[ "$symbols" == "$expected" ]]; then
  echo "1 passed, 0 failed"
  exit 0
fi
echo "exported symbols:"
echo "$symbols"
echo "0 passed, 1 failed"
exit 1
