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
"$BUILD_DIR/tools/blockgen/blockgen" --out "$OUT" --width 3000 --height 2000

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

# The same survey through Vantri from the command line: a new project with the images, GPS/IMU
# and the DEM, the AAT, control and check points measured (true image positions + 0.3 px noise),
# and the bundle process with its report.
CLI="$BUILD_DIR/app/shell/vantri-cli"
BLOCK="$OUT"
WORK="$OUT/vantri"
NAME=demo
BUN="$WORK/$NAME/$NAME.bun"
export VANTRI_HOME="$WORK/home"
rm -rf "$WORK" && mkdir -p "$WORK"
run() { echo "demo: vantri-cli $*" >&2; "$CLI" --yes "$@"; }
run new --folder "$WORK" --name "$NAME" --passport "$BLOCK/camera.bcc" --epsg 32632 >/dev/null
run add-images "$BUN" "$BLOCK"/images/* >/dev/null
run import-gps "$BUN" "$BLOCK/gps_imu.txt" --columns id,x,y,z,omega,phi,kappa --angles deg >/dev/null
run dem "$BUN" --external "$BLOCK/dem.tif" >/dev/null
# The generator's GPS positions carry 0.05 m of noise per axis: the adjustments hold the projection
# centres to them with that standard deviation.
run settings "$BUN" --set "Template size=32" --set "Search area size=320" \
  --set "Max points to search per image=64" --set "Max reprojection error (pixel)=2" \
  --set "GPS accuracy (m)=0.05" --validate >/dev/null
run aat "$BUN" 2>"$WORK/aat.log" | tail -n 1
run import-gcp "$BUN" "$BLOCK/gcp.txt" --columns id,x,y,z >/dev/null
run import-cp "$BUN" "$BLOCK/cp.txt" --columns id,x,y,z >/dev/null
# Measurements: the generator's true positions with N(0, 0.3 px) noise per axis, fixed seed.
noisy() {
  awk -F, -v seed="$2" 'BEGIN { srand(seed) }
    /^#/ || NF < 4 || $3 !~ /^-?[0-9.]+$/ { next }
    { u1 = rand(); if (u1 < 1e-12) u1 = 1e-12; u2 = rand();
      r = 0.3 * sqrt(-2 * log(u1));
      printf "%s,%s,%.4f,%.4f\n", $1, $2, $3 + r * cos(6.283185307 * u2), $4 + r * sin(6.283185307 * u2) }' "$1"
}
noisy "$BLOCK/gcp_image.txt" 11 >"$WORK/gcp_measured.txt"
noisy "$BLOCK/cp_image.txt" 12 >"$WORK/cp_measured.txt"
run measure "$BUN" --gcp "$WORK/gcp_measured.txt" --columns point,image,col,row >/dev/null
run measure "$BUN" --cp "$WORK/cp_measured.txt" --columns point,image,col,row >/dev/null
run bundle "$BUN" 2>"$WORK/bundle.log" | tail -n 1
CPRES="$WORK/$NAME/Bundle/$NAME.cpres"
echo "demo: aerial-triangulation report: $WORK/$NAME/Bundle/$NAME.atout"
awk '!/^#/ && NF == 7 { n++; p += $5 * $5 + $6 * $6; h += $7 * $7 }
  END { if (n) printf "demo: check-point RMS over %d points: plan %.3f m, height %.3f m\n", n, sqrt(p / n), sqrt(h / n) }' "$CPRES"
# The adjustment's own statistics, as the HTML report shows them.
awk -F= '$1 == "sigma0_px" { s = $2 } $1 == "iterations" { i = $2 } $1 == "converged" { c = $2 }
  END { if (s != "") printf "demo: bundle adjustment: sigma 0 a posteriori %.3f px, %d iterations, %s\n", s, i, c == 1 ? "converged" : "not converged" }' \
  "$WORK/$NAME/Bundle/$NAME.runstats"
echo "demo: accuracy report: $WORK/$NAME/Bundle/$NAME.html"
