#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
# GUI tests need a display: run the suite under a virtual X server.
xvfb-run -a -s "-screen 0 1600x1000x24" \
  ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure -j"$(nproc)"
