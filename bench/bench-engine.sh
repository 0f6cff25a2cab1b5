#!/usr/bin/env bash
# The install engine and the whole setup.exe /a /s against NSIS (zlib,
# silent) on the same payloads, all under one warm Wine prefix and one Xvfb:
# min and median of 5 runs each.
# Usage: bench/bench-engine.sh [SETS...]   (default: "200:20 2000:200", files:MiB)
set -euo pipefail
source "$(dirname "$0")/../scripts/common.sh"
cd "$root"
sets=${*:-"200:20 2000:200"}

cmake --preset release >/dev/null
cmake --build --preset release --target mksetup >/dev/null
build_preset win64 >/dev/null
bash scripts/prepare-wine.sh build/win64 >/dev/null

xvfb-run -a -s "-screen 0 1024x768x24" bash -s -- $sets <<'INNER'
set -euo pipefail
source scripts/common.sh
wine_session_start
trap wine_session_stop EXIT
bench="$WINEPREFIX/drive_c/bench"
mkdir -p "$bench"
cp build/win64/bench/engine_driver.exe "$bench/"

median() { python3 -c "import statistics,sys; v=sorted(map(float,sys.argv[1:])); print(f'min {v[0]:.2f} s, median {statistics.median(v):.2f} s')" "$@"; }
seconds() { local s e; s=$(date +%s.%N); "$@" >/dev/null 2>&1; e=$(date +%s.%N); python3 -c "print($e - $s)"; }

for set in "$@"; do
  files=${set%%:*} mib=${set##*:}
  work="build/bench/payload-$files-$mib"
  [ -f "$work/manifest.toml" ] || python3 bench/gen_payload.py "$work" "$files" "$mib"
  pkg="$bench/pkg-$files"
  build/release/tools/mksetup/mksetup build "$work/manifest.toml" -o "$pkg" --clean -q \
    --setup-exe build/win64/src/setup.exe >/dev/null
  cat >"$work/nsis.nsi" <<NSI
Unicode true
Target amd64-unicode
SetCompressor zlib
Name "Bench"
OutFile "$bench/nsis-$files.exe"
InstallDir "C:\\bench\\nsis-target"
RequestExecutionLevel admin
SilentInstall silent
Section
  SetOutPath "\$INSTDIR"
  File /r "payload/*.*"
SectionEnd
NSI
  (cd "$work" && makensis -V1 nsis.nsi)
  setup_target="$WINEPREFIX/drive_c/Program Files/Bench"
  engine=() setup=() nsis=()
  for run in 1 2 3 4 5; do
    rm -rf "$bench/engine-target" "$bench/nsis-target" "$setup_target"
    "$wine64" reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\CabsetupBench' /f >/dev/null 2>&1 || true
    engine+=("$(seconds "$wine64" "$bench/engine_driver.exe" "C:\\bench\\pkg-$files" "C:\\bench\\engine-target")")
    # Started from its own folder (Wine takes the Unix working folder), as NSIS is: no cmd.exe to start first.
    setup+=("$(seconds env -C "$bench/pkg-$files" "$wine64" setup.exe /a /s)")
    nsis+=("$(seconds "$wine64" "$bench/nsis-$files.exe" /S "/D=C:\\bench\\nsis-target")")
  done
  # Each must really have installed everything.
  got_e=$(find "$bench/engine-target" -type f | wc -l) got_n=$(find "$bench/nsis-target" -type f | wc -l)
  got_s=$(find "$setup_target" -type f ! -name flist.lst | wc -l)
  echo "payload $files files / $mib MiB: engine installed $got_e files, setup.exe $got_s ($(cat "$bench/pkg-$files/installerror.txt")), NSIS $got_n"
  echo "  engine (setup's worker): $(median "${engine[@]}")  per file $(python3 -c "print(f'{min(map(float, \"${engine[*]}\".split()))/$files*1000:.2f} ms')")"
  echo "  setup.exe /a /s:         $(median "${setup[@]}")"
  echo "  NSIS zlib /S:            $(median "${nsis[@]}")"
  ratio() { python3 -c "import statistics as s; e=sorted(map(float,'$2'.split())); n=sorted(map(float,'${nsis[*]}'.split())); print(f'  ratio $1/NSIS: min {e[0]/n[0]:.2f}, median {s.median(e)/s.median(n):.2f} (goal <= 0.8)')"; }
  ratio engine "${engine[*]}"
  ratio setup.exe "${setup[*]}"
  rm -rf "$bench/engine-target" "$bench/nsis-target" "$setup_target"
done
INNER
