#!/usr/bin/env bash
# End-to-end run of vantri-cli in a temporary folder: passport, new project, info, settings, crs.
# Usage: cli_end_to_end.sh PATH_TO_VANTRI_CLI
set -u
cli=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export VANTRI_HOME="$work/home"
cd "$work" || exit 1
failures=0
check() {  # check NAME EXPECTED_EXIT COMMAND...
  local name=$1 expected=$2
  shift 2
  "$@" >"$work/out" 2>"$work/err"
  local rc=$?
  if [ "$rc" -ne "$expected" ]; then
    echo "FAIL $name: exit $rc, expected $expected"; cat "$work/out" "$work/err"
    failures=$((failures + 1))
  fi
}
contains() {  # contains NAME TEXT (in the last output or error)
  if ! grep -qF -- "$2" "$work/out" "$work/err"; then
    echo "FAIL $1: '$2' not printed"; cat "$work/out" "$work/err"
    failures=$((failures + 1))
  fi
}

check passport-create 0 "$cli" passport create --out cam.bcc --model DMC --serial 7 --lens L \
  --date 01-01-2020 --focal 100.5 --pixel 0.0046 --width 6000 --height 4000 --ppx 3000 --ppy 2000
check passport-show 0 "$cli" passport show cam.bcc
contains passport-show "Raster Dimension: 6000 x 4000 pix"
check new-utm 0 "$cli" new --folder "$work" --name block --passport cam.bcc --projection UTM \
  --datum "World Geodetic System 1984" --fuse "32 N"
check new-again 1 "$cli" new --folder "$work" --name block --passport cam.bcc
contains new-again "Directory already exists"
check info 0 "$cli" info block/block.bun
contains info "Total area: 0.000 km^2"
contains info "Dim. Image (WxH): 6000 x 4000"
check crs 0 "$cli" crs block/block.bun
contains crs "UTM zone 32N"
check settings-bad 1 "$cli" settings block/block.bun --set "GCPs weight=0.5"
check settings-good 0 "$cli" settings block/block.bun --set "GCPs weight=1.0" --validate
contains settings-good "Settings are valid."
check unknown-option 2 "$cli" crs block/block.bun --wkt
check corrupt 1 sh -c "head -c 20 block/block.bun > cut.bun && '$cli' info cut.bun"
contains corrupt "Unable to open project!"

# Special files as inputs: refused with a message, never an endless read or a huge allocation.
mkdir folder.bcc
ln -s /dev/zero zero.bcc
for bad in /dev/zero zero.bcc folder.bcc; do
  check "passport-show-$bad" 1 timeout 60 "$cli" passport show "$bad"
done
check import-gps-dev-zero 1 timeout 60 "$cli" import-gps block/block.bun /dev/zero
contains import-gps-dev-zero "Unable to open the selected file!"
check import-gps-folder 1 timeout 60 "$cli" import-gps block/block.bun folder.bcc
contains import-gps-folder "Unable to open the selected file!"
ln -s /dev/zero block/GCP.col
check info-gcp-dev-zero 0 timeout 60 "$cli" info block/block.bun

passed=21
echo "$((passed - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
