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
# - time per file for each set and installer, setup.exe's peak working set;
# - the run log's cost (a build with the log compiled out, timed beside it)
#   and a signed package's (its signature check and its cabinets' digests,
#   apart, from the run logs).
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
# The run log's cost: the same program with the log compiled out
# (CABSETUP_RUN_LOG=OFF: no lines, no file, no flusher), timed beside it.
cmake --preset win64 -B build/win64-nolog -DCABSETUP_RUN_LOG=OFF >/dev/null
cmake --build build/win64-nolog -j2 --target setup >/dev/null
export BENCH_NOLOG_EXE=$root/build/win64-nolog/src/setup.exe
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
run_nolog() { env -C "$bench/nolog-$1" "$wine64" setup.exe /a /s; }
# From the newest run log (then removed): ms from the start to the script
# read (a signed package's signature and first digests lie in between), and
# ms from the workspace to every file in place (its cabinets' digests).
spans() {
  python3 - "$WINEPREFIX/drive_c/users" <<'PY'
import glob, os, sys
logs = glob.glob(os.path.join(sys.argv[1], "*", "Temp", "cabsetup-CabsetupBench-*.log"))
if not logs:
    print("0 0"); sys.exit()
newest = max(logs, key=os.path.getmtime)
t = {}
for line in open(newest, encoding="utf-8-sig", errors="replace"):
    parts = line.split(None, 1)
    if len(parts) == 2 and parts[0].isdigit():
        for key, start in (("script", "setup script:"), ("ws", "workspace:"), ("done", "engine: every file")):
            if parts[1].startswith(start): t.setdefault(key, int(parts[0]))
for log in logs: os.remove(log)
print(t.get("script", 0), t.get("done", 0) - t.get("ws", 0))
PY
}
run_nsis() { "$wine64" "$bench/nsis-$1.exe" /S "/D=T:\\nsis-target"; }

for set in "$@"; do
  files=${set%%:*} mib=${set##*:}
  work="build/bench/payload-$files-$mib"
  [ -f "$work/manifest.toml" ] || python3 bench/gen_payload.py "$work" "$files" "$mib"
  # The same payload, installed by setup.exe onto the tmpfs drive.
  sed "s|^defaultTargetDir = .*|defaultTargetDir = 'T:\\\\setup-target'|" "$work/manifest.toml" >"$work/bench.toml"
  build/release/tools/mksetup/mksetup build "$work/bench.toml" -o "$bench/pkg-$files" --clean -q \
    --setup-exe "$setup_exe" >/dev/null
  build/release/tools/mksetup/mksetup build "$work/bench.toml" -o "$bench/nolog-$files" --clean -q \
    --setup-exe "$BENCH_NOLOG_EXE" >/dev/null
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
  engine=() setup=() nsis=() peaks=() signed=() nolog=() spans_setup=() spans_signed=()
  again() { rm -rf "$shm/setup-target"
    "$wine64" reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\CabsetupBench' /f >/dev/null 2>&1 || true; }
  spans >/dev/null
  for run in $(seq "$BENCH_RUNS"); do
    fresh_targets
    engine+=("$(seconds run_engine "$files")")
    setup+=("$(seconds run_setup "$files")")
    spans_setup+=("$(spans)")
    peaks+=("$(cat "$bench/peak-$files.txt")")
    nsis+=("$(seconds run_nsis "$files")")
    again
    nolog+=("$(seconds run_nolog "$files")")
    if [ -d "$bench/signed-$files" ]; then
      again
      signed+=("$(seconds run_signed "$files")")
      spans_signed+=("$(spans)")
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
  echo "  setup.exe, no run log:   $(stats "$files" "${nolog[@]}") ($(cat "$bench/nolog-$files/installerror.txt"))"
  python3 -c "import statistics as s, sys; a=sorted(map(float,sys.argv[1].split())); b=sorted(map(float,sys.argv[2].split())); print(f'  run log cost: min {a[0]/b[0]-1:+.1%}, median {s.median(a)/s.median(b)-1:+.1%} (goal <= +2 %)')" "${setup[*]}" "${nolog[*]}"
  if [ ${#signed[@]} -gt 0 ]; then
    echo "  setup.exe signed /a /s:  $(stats "$files" "${signed[@]}") ($(cat "$bench/signed-$files/installerror.txt"))"
    python3 - "${signed[*]}" "${setup[*]}" "$(printf '%s;' "${spans_signed[@]}")" "$(printf '%s;' "${spans_setup[@]}")" <<'PY'
import statistics as s, sys
a, b = (sorted(map(float, x.split())) for x in sys.argv[1:3])
sg, un = ([tuple(map(int, p.split())) for p in x.split(";") if p] for x in sys.argv[3:5])
med = lambda rows, i: s.median(r[i] for r in rows)
print(f"  digest checks cost: min {a[0]/b[0]-1:+.1%}, median {s.median(a)/s.median(b)-1:+.1%}; from the logs (medians): "
      f"start to script read {med(sg, 0):.0f} ms signed, {med(un, 0):.0f} ms unsigned (the signature check); "
      f"unpacking {med(sg, 1):.0f} ms against {med(un, 1):.0f} ms (the cabinets' digests: "
      f"{(med(sg, 1) - med(un, 1)) / 1000 / s.median(b):+.1%} of the run; goal <= +5 %)")
PY
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
