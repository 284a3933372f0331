#!/usr/bin/env bash
# The main job on sample data: installs what is missing, builds the suite, generates the
# default synthetic block into out/sample with blockgen and adjusts it with bravik.
# Exit status: bravik's (0 when the adjustment succeeded).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
BUILD_DIR=${BUILD_DIR:-build}
OUT=out/sample
INPUT="$OUT/engine/block.inp"
REPORT="$OUT/engine/block.out"
LOG="$OUT/engine/bravik.log"

rm -rf "$OUT"
"$BUILD_DIR/tools/blockgen/blockgen" --out "$OUT"

echo "demo: bravik --camera-file $INPUT"
set +e
"$BUILD_DIR/engine/tool/bravik" --camera-file "$INPUT" >"$LOG" 2>&1
rc=$?
set -e
if [[ $rc -ne 0 ]]; then
  echo "demo: bravik failed with exit code $rc; the engine said:"
  sed 's/^/  /' "$LOG"
  if [[ -f "$REPORT" ]]; then
    grep -E '^(ERROR|\*\*\* WARNING|ATTENTION)' "$REPORT" | sed 's/^/  report: /' || true
  fi
  exit "$rc"
fi
sigma=$(grep 'Sigma 0 a posteriori' "$REPORT" | tail -n 1 | sed 's/^[^:]*:[[:space:]]*//' || true)
echo "demo: report: $REPORT"
echo "demo: sigma 0 a posteriori: ${sigma:-not found in the report}"
