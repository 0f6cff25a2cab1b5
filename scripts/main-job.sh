#!/usr/bin/env bash
# The main job: builds everything, then runs setup.exe under Wine, headless:
# the wizard driven through every page in English and Korean, the example
# package and its update installed unattended, and a run without a package.
# Leaves screenshots and a summary in out/main-job/ (and the screenshots in
# docs/screenshots/).
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
# The committed screenshots follow what the wizard shows now.
mkdir -p docs/screenshots
cp "$out"/screenshots/*.png docs/screenshots/ 2>/dev/null || true
cat "$out/summary.txt"
