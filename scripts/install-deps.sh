#!/usr/bin/env bash
# Installs every Debian package the suite needs to build, test and benchmark.
# Idempotent: when every package is already present it does nothing.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  libgdal-dev gdal-bin
  libvtk9-dev libvtk9-qt-dev
  libopencv-dev libceres-dev libeigen3-dev
  qtbase5-dev libqt5svg5-dev
  libcurl4-openssl-dev
  xvfb xauth
  chromium poppler-utils
  python3
)

missing=()
for p in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if [[ ${#missing[@]} -eq 0 ]]; then
  echo "install-deps: all ${#PACKAGES[@]} packages present"
  exit 0
fi

SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
