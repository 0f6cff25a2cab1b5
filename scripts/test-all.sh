#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test: native
# (ASan/UBSan), under Wine (x86_64 build), the shipped i686 build's static
# checks, a short smoke of each fuzz target and the vendor's packages.
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$root"

start=$(date +%s)
bash scripts/install-deps.sh
for preset in native win64 win32 release fuzz; do build_preset "$preset"; done
bash scripts/prepare-wine.sh build/win64

passed=0 failed=0
summarize() {  # summarize LABEL LOG: prints the log's results and adds its counts to the totals
  local label=$1 log=$2 line
  grep -E '^ *[0-9]+/[0-9]+ Test|Failed|\*\*\*' "$log" || true
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [ -z "$line" ]; then
    tail -n 30 "$log"
    echo "$label: ctest printed no summary" >&2
    failed=$((failed + 1))
    return
  fi
  local nfail ntotal
  nfail=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/')
  ntotal=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/')
  passed=$((passed + ntotal - nfail))
  failed=$((failed + nfail))
  echo "$label: $((ntotal - nfail)) of $ntotal passed"
}

ctest --preset native >build/native-ctest.log 2>&1 || true
summarize native build/native-ctest.log
ctest --preset win32 >build/win32-ctest.log 2>&1 || true
summarize shipped-i686 build/win32-ctest.log
ctest --test-dir build/fuzz --output-on-failure >build/fuzz-ctest.log 2>&1 || true
summarize fuzz build/fuzz-ctest.log
# The vendor's kit: the .deb installed, used and removed again; the zip.
ctest --preset release >build/release-ctest.log 2>&1 || true
summarize packages build/release-ctest.log
# One virtual display and one wineserver for every Wine test.
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  source scripts/common.sh
  wine_session_start
  ctest --preset win64 >build/win64-ctest.log 2>&1
  wine_session_stop' || true
summarize wine build/win64-ctest.log

echo "time: $(( $(date +%s) - start )) s"
echo "total: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
