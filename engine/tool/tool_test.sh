#!/usr/bin/env bash
# Runs the bravik tool on small main files and checks messages and exit codes.
# Usage: tool_test.sh BRAVIK_EXECUTABLE
set -u
tool="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0

check() {  # description, expected exit code, actual exit code
  if [[ "$2" != "$3" ]]; then
    echo "FAIL: $1: exit $3, expected $2"
    failures=$((failures + 1))
  fi
}

echo "Params x" > "$work/capital.inp"
out="$("$tool" "$work/capital.inp")"
check "unknown keyword" 1 $?
if ! grep -qxF "ERROR: Unknown keyword: 'Params'" <<<"$out"; then
  echo "FAIL: unknown keyword message missing, got: $out"
  failures=$((failures + 1))
fi

"$tool" >/dev/null 2>&1
check "no argument" 2 $?
"$tool" a b >/dev/null 2>&1
check "two inputs" 2 $?
"$tool" --bogus x >/dev/null 2>&1
check "unknown option" 2 $?
"$tool" --help >/dev/null
check "help" 0 $?
version="$("$tool" --version)"
check "version" 0 $?
[[ "$version" =~ ^bravik\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || {
  echo "FAIL: version line '$version'"
  failures=$((failures + 1))
}
"$tool" "$work/missing.inp" >/dev/null
check "missing input" 1 $?

# Inputs that cannot be read say why on standard error.
expect_reason() {  # description, expected text on standard error, arguments...
  local description="$1" reason="$2"
  shift 2
  local err
  err="$("$tool" "$@" 2>&1 >/dev/null)"
  check "$description" 1 $?
  if [[ "$err" != *"$reason"* ]]; then
    echo "FAIL: $description: standard error '$err' lacks '$reason'"
    failures=$((failures + 1))
  fi
}
expect_reason "missing input" "missing.inp: no such file" "$work/missing.inp"
expect_reason "folder input" "is a folder" "$work"
expect_reason "device input" "/dev/zero: is not a regular file" /dev/zero
expect_reason "empty path" "the input path is empty" ""
echo "Params x" > "$work/failing.inp"
expect_reason "failed run" "the run failed" "$work/failing.inp"
[[ -e "$work/missing.out" ]] && {
  echo "FAIL: a report was created for a missing input"
  failures=$((failures + 1))
}

# The output files exist next to the input even when the tool runs elsewhere.
: > "$work/empty.inp"
(cd / && "$tool" --camera-file "$work/empty.inp" >/dev/null)
for ext in out ext ocs res apset gcpres chp; do
  [[ -e "$work/empty.$ext" ]] || {
    echo "FAIL: empty.$ext not written"
    failures=$((failures + 1))
  }
done

if ((failures == 0)); then
  echo "1 passed, 0 failed"
  exit 0
fi
echo "0 passed, 1 failed"
exit 1
