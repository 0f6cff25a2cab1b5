#!/usr/bin/env bash
# The install engine and the whole setup.exe /a /s against NSIS (zlib,
# silent) on the same payloads, in a Wine prefix of the benchmark's own:
# - every target folder lies on a tmpfs folder mapped into the prefix as T:
#   (deleting and recreating thousands of files on the machine's disk would
#   measure the file system's inode reuse, not the installers);
# - one untimed run of each installer first, so that Wine's services are
#   warm, and a program with a window open throughout, so that Wine's desktop
#   process stays as Windows's does;
# - Wine's winebus (device discovery, no use to an installer) is off;
# - five runs each, the three installers alternated, min and median;
# - time per file for each set and installer, setup.exe's peak working set.
#
# Usage: bench/bench-engine.sh [SETS...]   (default "200:20 2000:200 2000:2", files:MiB)
#   BENCH_RUNS=N           runs per installer (5)
#   BENCH_SETUP_EXE=PATH   another setup.exe to put into the packages (a before/after comparison)
#   BENCH_TRACE=1          instead of timing: count wineserver requests per file of setup.exe
#                          (trace of a wineserver -d1, difference between the sets over the
#                          difference of their file counts; give two sets of the same file size,
#                          e.g. "200:0.2 2000:2")
set -euo pipefail
source "$(dirname "$0")/../scripts/common.sh"
cd "$root"
sets=${*:-"200:20 2000:200 2000:2"}

cmake --preset release >/dev/null
cmake --build --preset release --target mksetup >/dev/null
build_preset win64 >/dev/null
mkdir -p build/bench
bash scripts/prepare-wine.sh build/bench >/dev/null
export BENCH_SETUP_EXE=${BENCH_SETUP_EXE:-$root/build/win64/src/setup.exe}
export BENCH_RUNS=${BENCH_RUNS:-5} BENCH_TRACE=${BENCH_TRACE:-}

xvfb-run -a -s "-screen 0 1024x768x24" bash -s -- $sets <<'INNER'
set -euo pipefail
source scripts/common.sh
w="$root/build/bench/wine"
export WINEPREFIX="$w/prefix" HOME="$w/home" XDG_DATA_HOME="$w/home/.local/share" XDG_CONFIG_HOME="$w/home/.config"
export XDG_CACHE_HOME="$w/home/.cache" WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d;winebus.sys=d"
shm="/dev/shm/cabsetup-bench-$(id -u)-$$"
mkdir -p "$shm"
ln -sfn "$shm" "$WINEPREFIX/dosdevices/t:"
stop() { "$wineserver" -k 2>/dev/null || true; rm -rf "$shm"; rm -f "$WINEPREFIX/dosdevices/t:"; }
trap stop EXIT
"$wineserver" -p
"$wine64" cmd /c exit >/dev/null 2>&1 </dev/null || true
# Wine's desktop process ends a moment after the last program with a window,
# and the next one waits ~200 ms for a new one: Windows never makes an
# installer wait for its desktop. A program with a window, open for the
# whole benchmark, keeps it as Windows has it.
"$wine64" notepad.exe >/dev/null 2>&1 </dev/null &
sleep 2
bench="$WINEPREFIX/drive_c/bench"
mkdir -p "$bench"
cp build/win64/bench/engine_driver.exe "$bench/"
setup_exe=$BENCH_SETUP_EXE
echo "setup.exe: $setup_exe ($(stat -c %s "$setup_exe") bytes); load: $(uptime | sed 's/.*load/load/')"

stats() { python3 -c "
import statistics, sys
v = sorted(map(float, sys.argv[2:])); files = int(sys.argv[1])
print(f'min {v[0]:.3f} s, median {statistics.median(v):.3f} s; per file {v[0] / files * 1000:.3f} ms (min)')" "$@"; }
# Seconds of one command, its output dropped.
seconds() { local s e; s=$(date +%s.%N); "$@" >/dev/null 2>&1 || true; e=$(date +%s.%N); python3 -c "print($e - $s)"; }
fresh_targets() {
  rm -rf "$shm/engine-target" "$shm/nsis-target" "$shm/setup-target"
  "$wine64" reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\CabsetupBench' /f >/dev/null 2>&1 || true
}
run_engine() { "$wine64" "$bench/engine_driver.exe" "C:\\bench\\pkg-$1" "T:\\engine-target"; }
# Started from its own folder (Wine takes the Unix working folder), as NSIS is: no cmd.exe to start first.
run_setup() { env -C "$bench/pkg-$1" /usr/bin/time -f %M -o "$bench/peak-$1.txt" "$wine64" setup.exe /a /s; }
run_signed() { env -C "$bench/signed-$1" "$wine64" setup.exe /a /s; }
run_nsis() { "$wine64" "$bench/nsis-$1.exe" /S "/D=T:\\nsis-target"; }

for set in "$@"; do
  files=${set%%:*} mib=${set##*:}
  work="build/bench/payload-$files-$mib"
  [ -f "$work/manifest.toml" ] || python3 bench/gen_payload.py "$work" "$files" "$mib"
  # The same payload, installed by setup.exe onto the tmpfs drive.
  sed "s|^defaultTargetDir = .*|defaultTargetDir = 'T:\\\\setup-target'|" "$work/manifest.toml" >"$work/bench.toml"
  build/release/tools/mksetup/mksetup build "$work/bench.toml" -o "$bench/pkg-$files" --clean -q \
    --setup-exe "$setup_exe" >/dev/null
  # The same package signed with a throwaway certificate: its setup.exe checks
  # every digest (where openssl and osslsigncode are installed).
  rm -rf "$bench/signed-$files"
  if command -v openssl >/dev/null && command -v osslsigncode >/dev/null; then
    keys="$work/keys" && mkdir -p "$keys"
    [ -f "$keys/v.pem" ] || openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Bench Vendor" \
      -keyout "$keys/v.key" -out "$keys/v.pem" 2>/dev/null
    build/release/tools/mksetup/mksetup build "$work/bench.toml" -o "$bench/signed-$files" --clean -q \
      --setup-exe "$setup_exe" --sign-cert "$keys/v.pem" --sign-key "$keys/v.key" >/dev/null
  fi
  if [ -n "$BENCH_TRACE" ]; then
    # One run under a wineserver that prints every request: all processes'
    # requests while setup.exe runs (the rest of the prefix is idle then).
    fresh_targets
    "$wineserver" -k; "$wineserver" -w
    "$wineserver" -f -p -d1 2>"$bench/trace-$files.txt" &
    sleep 1
    "$wine64" cmd /c exit >/dev/null 2>&1 </dev/null || true
    mark=$(wc -l <"$bench/trace-$files.txt")
    run_setup "$files" >/dev/null 2>&1 || true
    sleep 0.5
    total=$(tail -n +"$((mark + 1))" "$bench/trace-$files.txt" | grep -Ec '^[0-9a-f]{4,}: [a-z_]+\(' || true)
    replies=$(tail -n +"$((mark + 1))" "$bench/trace-$files.txt" | grep -Ec '^[0-9a-f]{4,}: [a-z_]+\(.*\) = ' || true)
    echo "$files $((total - replies))" >>"$bench/requests.txt"
    tail -n +"$((mark + 1))" "$bench/trace-$files.txt" | grep -E '^[0-9a-f]{4,}: [a-z_]+\(' | grep -Ev '\) = ' |
      sed -E 's/^[0-9a-f]+: ([a-z_]+)\(.*/\1/' | sort | uniq -c | sort -rn >"$bench/requests-$files.txt"
    echo "payload $files files / $mib MiB: $((total - replies)) server requests during setup.exe /a /s ($(cat "$bench/pkg-$files/installerror.txt"))"
    "$wineserver" -k 2>/dev/null || true; wait || true
    "$wineserver" -p
    "$wine64" cmd /c exit >/dev/null 2>&1 </dev/null || true
    continue
  fi
  cat >"$work/nsis.nsi" <<NSI
Unicode true
Target amd64-unicode
SetCompressor zlib
Name "Bench"
OutFile "$bench/nsis-$files.exe"
InstallDir "T:\\nsis-target"
RequestExecutionLevel admin
SilentInstall silent
Section
  SetOutPath "\$INSTDIR"
  File /r "payload/*.*"
SectionEnd
NSI
  (cd "$work" && makensis -V1 nsis.nsi)
  # Warm: Wine's desktop process, services and file caches, untimed.
  fresh_targets
  run_engine "$files" >/dev/null 2>&1 || true
  run_setup "$files" >/dev/null 2>&1 || true
  run_nsis "$files" >/dev/null 2>&1 || true
  engine=() setup=() nsis=() peaks=() signed=()
  for run in $(seq "$BENCH_RUNS"); do
    fresh_targets
    engine+=("$(seconds run_engine "$files")")
    setup+=("$(seconds run_setup "$files")")
    peaks+=("$(cat "$bench/peak-$files.txt")")
    nsis+=("$(seconds run_nsis "$files")")
    if [ -d "$bench/signed-$files" ]; then
      rm -rf "$shm/setup-target"
      "$wine64" reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\CabsetupBench' /f >/dev/null 2>&1 || true
      signed+=("$(seconds run_signed "$files")")
    fi
  done
  # Each must really have installed everything.
  got_e=$(find "$shm/engine-target" -type f | wc -l) got_n=$(find "$shm/nsis-target" -type f | wc -l)
  got_s=$(find "$shm/setup-target" -type f ! -name flist.lst | wc -l)
  echo "payload $files files / $mib MiB ($BENCH_RUNS runs each, alternated; load $(uptime | sed 's/.*average: //')):"
  echo "  installed: engine $got_e files, setup.exe $got_s ($(cat "$bench/pkg-$files/installerror.txt")), NSIS $got_n"
  echo "  engine (setup's worker): $(stats "$files" "${engine[@]}")"
  echo "  setup.exe /a /s:         $(stats "$files" "${setup[@]}")"
  echo "  NSIS zlib /S:            $(stats "$files" "${nsis[@]}")"
  python3 - "${engine[*]}" "${setup[*]}" "${nsis[*]}" <<'PY'
import statistics as s, sys
e, t, n = (sorted(map(float, a.split())) for a in sys.argv[1:4])
print(f"  ratio engine/NSIS: min {e[0]/n[0]:.2f}, median {s.median(e)/s.median(n):.2f}")
print(f"  ratio setup.exe/NSIS: min {t[0]/n[0]:.2f}, median {s.median(t)/s.median(n):.2f}")
print(f"  ratio (setup.exe - the 300 ms pause)/NSIS: min {(t[0]-0.3)/n[0]:.2f}, median {(s.median(t)-0.3)/s.median(n):.2f}")
PY
  if [ ${#signed[@]} -gt 0 ]; then
    echo "  setup.exe signed /a /s:  $(stats "$files" "${signed[@]}") ($(cat "$bench/signed-$files/installerror.txt"))"
    python3 -c "import statistics as s, sys; a=sorted(map(float,sys.argv[1].split())); b=sorted(map(float,sys.argv[2].split())); print(f'  digest checks cost: min {a[0]/b[0]-1:+.1%}, median {s.median(a)/s.median(b)-1:+.1%} (goal <= +5 %)')" "${signed[*]}" "${setup[*]}"
  fi
  echo "  setup.exe peak working set: $(printf '%s\n' "${peaks[@]}" | sort -n | tail -1) KiB (max of the runs)"
  rm -rf "$shm/engine-target" "$shm/nsis-target" "$shm/setup-target"
done
if [ -n "$BENCH_TRACE" ] && [ "$(wc -l <"$bench/requests.txt")" -ge 2 ]; then
  python3 - "$bench/requests.txt" <<'PY'
import sys
rows = [tuple(map(int, l.split())) for l in open(sys.argv[1])][-2:]
(f1, r1), (f2, r2) = rows
print(f"server requests per file: {(r2 - r1) / (f2 - f1):.1f} (({r2} - {r1}) / ({f2} - {f1}) files)")
PY
  rm -f "$bench/requests.txt"
fi
INNER

# The run log's cost: setup.exe /a /s on the largest set, as built and from a
# build with the log compiled out (CABSETUP_RUN_LOG=OFF: no lines, no file,
# no flusher), alternating, 5 runs each; at most 2 % apart.
largest=$(for set in $sets; do echo "${set%%:*} $set"; done | sort -n | tail -n 1 | cut -d' ' -f2)
cmake --preset win64 -B build/win64-nolog -DCABSETUP_RUN_LOG=OFF >/dev/null
cmake --build build/win64-nolog -j2 --target setup >/dev/null
xvfb-run -a -s "-screen 0 1024x768x24" bash -s -- "$largest" <<'INNER'
set -euo pipefail
source scripts/common.sh
wine_session_start
trap wine_session_stop EXIT
"$wine64" notepad.exe >/dev/null 2>&1 </dev/null &  # the desktop stays, as above
sleep 2
files=${1%%:*} mib=${1##*:}
work="build/bench/payload-$files-$mib"
[ -f "$work/manifest.toml" ] || python3 bench/gen_payload.py "$work" "$files" "$mib"
seconds() { local s e; s=$(date +%s.%N); "$@" >/dev/null 2>&1; e=$(date +%s.%N); python3 -c "print($e - $s)"; }
setup_target="$WINEPREFIX/drive_c/Program Files/Bench"
declare -A times
for variant in log nolog; do
  exe=build/win64/src/setup.exe
  [ $variant = nolog ] && exe=build/win64-nolog/src/setup.exe
  build/release/tools/mksetup/mksetup build "$work/manifest.toml" -o "$WINEPREFIX/drive_c/bench/log-$variant" --clean -q \
    --setup-exe "$exe" >/dev/null
done
for run in 1 2 3 4 5; do
  for variant in log nolog; do
    rm -rf "$setup_target"
    "$wine64" reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\CabsetupBench' /f >/dev/null 2>&1 || true
    times[$variant]+="$(seconds env -C "$WINEPREFIX/drive_c/bench/log-$variant" "$wine64" setup.exe /a /s) "
  done
done
python3 - "${times[log]}" "${times[nolog]}" <<'PY'
import statistics, sys
log, nolog = (sorted(map(float, a.split())) for a in sys.argv[1:3])
print(f"  run log: setup.exe /a /s with the log: min {log[0]:.2f} s, median {statistics.median(log):.2f} s; "
      f"without: min {nolog[0]:.2f} s, median {statistics.median(nolog):.2f} s; "
      f"cost {100 * (statistics.median(log) / statistics.median(nolog) - 1):+.1f} % (goal <= 2 %)")
PY
rm -rf "$setup_target"
INNER

