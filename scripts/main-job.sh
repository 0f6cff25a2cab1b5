#!/usr/bin/env bash
# The main job: builds everything, then runs setup.exe under Wine, headless,
# on a sample package and without one, leaving screenshots and a summary in
# out/main-job/.
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$root"

bash scripts/install-deps.sh
for preset in native win64 win32; do build_preset "$preset"; done
bash scripts/prepare-wine.sh build/win64

out="$root/out/main-job"
rm -rf "$out"
mkdir -p "$out"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c "source scripts/common.sh; bash scripts/main-job-wine.sh '$out'"
cat "$out/summary.txt"
