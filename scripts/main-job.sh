#!/usr/bin/env bash
# The main job: builds everything, then runs setup.exe under Wine, headless:
# the example package and its update installed unattended, a run without a
# package, and mksetup try driving the wizard through every page in English
# and Korean.
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

# The wizard in English and Korean, as a vendor tries a package: mksetup try
# with the x86_64 setup.exe and driver (this machine runs no 32-bit code).
mksetup=build/native/tools/mksetup/mksetup
$mksetup build examples/hello/manifest.toml -o "$out/try-package" --clean -q --setup-exe build/win64/src/setup.exe \
  --uninstall-exe build/win64/src/uninstall.exe >/dev/null
set +e
$mksetup try "$out/try-package" --report "$out/try" --driver build/win64/tools/drive/cabsetup-drive.exe >"$out/try.txt" 2>&1
try_code=$?
set -e
mkdir -p "$out/screenshots"
for lang in en ko; do
  for f in "$out/try/shots/$lang-wizard"/*.bmp; do
    [ -e "$f" ] && convert "$f" "$out/screenshots/$lang-$(basename "${f%.bmp}").png"
  done
done
{
  echo
  echo "== mksetup try examples/hello (the wizard page by page in English and Korean, unattended, dry run, removal):"
  echo "   exit code $try_code; report: out/main-job/try/index.html; screenshots/: $(ls "$out/screenshots" | tr '\n' ' ')"
  grep -E '^(FAILED|passed|failed)' "$out/try.txt" | sed 's/^/   /'
} >>"$out/summary.txt"
# The committed screenshots follow what the wizard shows now.
mkdir -p docs/screenshots
cp "$out"/screenshots/*.png docs/screenshots/ 2>/dev/null || true
cat "$out/summary.txt"
