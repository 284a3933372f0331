#!/usr/bin/env bash
# Regenerates the seed corpora of the fuzz targets (fuzz/corpus/<target>/) from examples/, a
# small generated block and a few hand-written records. Needs blockgen and vantri-cli:
#   bash fuzz/make_corpus.sh [BUILD_DIR]        (default build/)
# The seeds are small and committed; libFuzzer's own finds stay out of the repository.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
blockgen="$build/tools/blockgen/blockgen"
cli="$build/app/shell/vantri-cli"
corpus=fuzz/corpus
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
rm -rf "$corpus"
mkdir -p "$corpus"/{engine_main,engine_typed,project_binary,project_text,settings,passport,col,import,formula,bro,step}_fuzzer

seed() {  # target name < bytes
  cat > "$corpus/${1}_fuzzer/$2"
}
head_bytes() { head -c "${2:-4096}" "$1"; }

# --- Engine: main files with their files packed after "====" lines, named f1, f2, ...
pack_main() {  # name main-file-folder main-file
  local folder="$2" main="$3" k=0 entries="" parts=""
  while read -r keyword file; do
    [[ -z "$keyword" ]] && continue
    if [[ "$keyword" == stop-dep ]]; then entries+="stop-dep"$'\n'; break; fi
    k=$((k + 1))
    entries+="$keyword f$k"$'\n'
    parts+=$'\n====\n'"$(head -c 3000 "$folder/$file")"
  done < "$folder/$main"
  printf '%s%s' "$entries" "$parts" | seed engine_main "$1"
}
pack_main tiny examples/engine-tiny tiny.inp
pack_main sample examples/sample-block/engine block.inp
printf 'pos-cor f1\natt-cor f2\nap-set f3\next-ori f4\n\n====\nC1 S1 S2 stop-dep 0 2 1 0.1 2 0.1 3 0.1 0 1 0 1 0 1\n====\nA1 S1 stop-dep 0 1 0 1 0 1 0 1\n====\ngap A1 K1 1e-5 1e-6 2e-5 1e-6\np12 A2 K1 30 1 1\n====\ncommon-type ext-ori-opk-rot deg 1 0 (1, 1, 1) 0.1 0.1 0.1\nS1 10.5 100 200 300 1 2 3\n' | seed engine_main corrections

# --- Engine: typed readers, the first byte chooses the reader (see engine_typed_fuzzer.cpp).
typed() {  # selector name file
  { printf "\\x$(printf %02x "$1")"; head_bytes "$3" 3000; } | seed engine_typed "$2"
}
typed 0 cameras examples/engine-tiny/cameras.txt
typed 1 images examples/engine-tiny/images.txt
typed 2 orientations examples/engine-tiny/orientations.txt
typed 2 orientations_sample examples/sample-block/engine/orientations.txt
typed 6 image_coords examples/engine-tiny/image-coords.txt
typed 7 object_coords examples/engine-tiny/object-coords.txt
typed 8 control examples/engine-tiny/control.txt
typed 9 params examples/engine-tiny/params.txt
typed 10 ls_params examples/engine-tiny/ls-params.txt
printf 'camera-frame K1 a 100 0 0 230 230\ncamera-ccd K2 b 35 0 0 4000 3000 6 6\n' > "$work/cam.txt"
typed 0 cameras_two "$work/cam.txt"
printf 'gap A1 K1 1e-5 1e-6 2e-5 1e-6\np12 A2 K1 30 1 1\nradial-dist A3 K1 1 2 3 4 5 6\naustralis A4 K1 1 2 3 4 5 6 7 8 9 10\ninner-or A5 K1 1 2 3\nstop-dep\n' > "$work/ap.txt"
typed 3 ap_sets "$work/ap.txt"
printf 'C1 S1 S2 stop-dep 0 2 1 0.1 2 0.1 3 0.1 0.5 1 0 1 0 1\nC2 S3 stop-dep 5\n' > "$work/pos.txt"
typed 4 pos_corrections "$work/pos.txt"
typed 5 att_corrections "$work/pos.txt"
printf 'indiv-type\next-ori-opk-rot S1 I1 ( 1 , 2 , 3 ) 0.1 0.1 0.1 0 0 0 1 1 1\ndlt D1 I2 1 2 3 4 5 6 7 8 9 10 11\nstop-dep\n' > "$work/indiv.txt"
typed 2 indiv_geometries "$work/indiv.txt"

# --- A generated block and a project made from it with the command-line program.
if [[ -x "$blockgen" && -x "$cli" ]]; then
  "$blockgen" --out "$work/block" --strips 1 --images-per-strip 3 --width 96 --height 64 \
    --tie-points 20 --control-points 4 --check-points 2 >/dev/null
  export VANTRI_HOME="$work/home"
  "$cli" new --folder "$work" --name job --passport "$work/block/camera.bcc" --epsg 32632 >/dev/null
  "$cli" add-images "$work/job/job.bun" "$work"/block/images/* >/dev/null 2>&1 || true
  "$cli" import-gps "$work/job/job.bun" "$work/block/gps_imu.txt" --columns id,x,y,z,omega,phi,kappa \
    --angles deg >/dev/null 2>&1 || true
  "$cli" settings "$work/job/job.bun" --set "Template size=32" >/dev/null 2>&1 || true
  seed project_binary generated.bun < "$work/job/job.bun"
  [[ -f "$work/job/settings.ini" ]] && seed settings generated.ini < "$work/job/settings.ini"
  head_bytes "$work/block/engine/block.inp" | seed engine_typed generated_main_as_cameras
  "$cli" aat "$work/job/job.bun" >/dev/null 2>&1 || true
  for bro in "$work"/job/TiePoints/job_1.bro "$work"/job/TiePoints/job_2.bro; do
    [[ -f "$bro" ]] && head_bytes "$bro" 16000 | seed bro "generated_$(basename "$bro")"
  done
  { printf '\x00'; head_bytes "$work/block/gps_imu.txt"; } | seed import generated_gps
else
  echo "make_corpus: $blockgen or $cli missing; generated seeds skipped" >&2
fi

# --- Text projects of the old versions.
printf 'version = 104\n\nimage count = 2\n\nimages file path\n/data/a.tif\nD:\\Volo\\\xE9tude\\b.tif\n\nimages GPS/IMU data\n1 2 3 0.1 0.2 0.3 0.5 0.5 0.01 0.01\n4 5 6 0 0 0 0 0 0 0\n\ncoordinate system\nprojection = UTM\ndatum = WGS84\nfuse = 32\nunits = meters\n' | seed project_text v104.aba
printf 'version = 102\n\nimage count = 1\n\nimages file path\n/data/a.tif\n\nimages GPS/IMU data\n1 2 3 0.1 0.2 0.3\n\nlevel\n3\n\ncoordinate system\nprojection = UTM\ndatum = WGS84\nfuse = 33\nunits = meters\n' | seed project_text v102.aba
printf 'version = 99\n\nimages GPS/IMU data\n' | seed project_text v99.aba

# --- Settings, passports, point collections.
printf '[Settings]\nnGroup=1\nSoftwareVer=0.1.0\n[grp0]\ngroupName=Bundle adjustment parameters\nnProp=2\nprop0name=Min number of iterations\nprop0value=10\nprop0desc=Must be higher than 3\nprop1name=Max points to search per image\nprop1value=25:9:16:25\nprop1desc=Default value is 25\n' | seed settings small.ini
seed passport sample.bcc < examples/sample-block/camera.bcc
sed 's/VANTRI-PASSPORT-BCC/VANTRI-PASSPORT-CVC/' examples/sample-block/camera.bcc | seed passport sample.cvc
sed 's/VANTRI-PASSPORT-BCC/VANTRI-PASSPORT-RDR/' examples/sample-block/camera.bcc | seed passport sample.rdr
seed col GCP.col < examples/sample-block/GCP.col
seed col CP.col < examples/sample-block/CP.col

# --- Imports: first byte = mode (0 GPS/IMU, 1 GCP, 2 check points) + 4 x separator choice.
{ printf '\x00'; head_bytes examples/sample-block/gps_imu.txt 2000; } | seed import gps_imu
{ printf '\x01'; cat examples/sample-block/gcp.txt; } | seed import gcp
{ printf '\x02'; cat examples/sample-block/cp.txt; } | seed import cp
{ printf '\x0d'; printf 'P1;100.5;200;30;0.1;-\n# c\nP2;1;2;3\n'; } | seed import gcp_semicolon
{ printf '\x04'; printf 'img_1 1000 2000 300 0.1 0.2 1.5 0.5 - 4 -1\n'; } | seed import gps_blank

# --- The tie-point search's exchange and step files.
printf '# SSBA file v1.0\n2 3\n0 0 0\n0 0 0\n0 0 0\n0 0 0\n0 0 0\n2.0000000000e+03 0.0000000000e+00 0.0000000000e+00\n1 0 0\n0 1 0\n0 0 1\n10 20 30\n1 1 1\n0 255 255\n2 0 0 1 1 1 0 2 2\n4 5 6\n0 255 255\n1 0 0 3 3\n7 8 9\n255 0 0\n2 0 1 5.5 6.25 1 2 7 8\n' | seed bro one_oriented.bro
printf '# SSBA file v1.0\n0 0\n' | seed bro empty.bro
printf '[SSBA]\niLastAddedImage=0\n' | seed step first.abai
printf '[SSBA]\niLastAddedImage=17\n' | seed step step17.abai
printf '[Other]\nx=1\n[SSBA]\niLastAddedImage=\n' | seed step empty_value.abai

# --- Formulas.
i=0
for f in 'x*(1+k1*r^2)' 'sqrt(x^2+y^2)' 'if(r>1, min(x,y), max(x,-y))' 'sin(pi/4)*cos(x)-tan(y)/2' \
  '-(x+y)*-r' '1e308*10' 'atan2(y, x) + abs(-3) % 2' 'log(0) + exp(710)'; do
  i=$((i + 1))
  printf '%s' "$f" | seed formula "f$i"
done
{ head -c 3000 /dev/zero | tr '\0' '('; printf -- '-(x+-(('; } | seed formula deep_parentheses
du -sh "$corpus"
