#!/usr/bin/env bash
# Builds a 2,000-file / 200 MiB payload with mksetup (MSZIP, level 9) and
# with gcab -c -z on the same files; prints files/s, MiB/s, size ratios and
# the time ratio. Usage: bench/bench-mksetup.sh [FILES] [MIB]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
files=${1:-2000} mib=${2:-200}
work="$root/build/bench/payload-$files-$mib"
mksetup="$root/build/release/tools/mksetup/mksetup"

# The release preset's mksetup, as vendors get it (the native preset is a sanitizer build).
(cd "$root" && cmake --preset release >/dev/null && cmake --build --preset release --target mksetup >/dev/null)
[ -f "$work/manifest.toml" ] || python3 "$root/bench/gen_payload.py" "$work" "$files" "$mib"
payload=$(du -sb "$work/payload" | cut -f1)

best() {  # best of 3 wall-clock seconds of a command
  local b=
  for _ in 1 2 3; do
    local s e
    s=$(date +%s.%N); "$@" >/dev/null 2>&1; e=$(date +%s.%N)
    b=$(python3 -c "print(min(float('${b:-1e9}'), $e - $s))")
  done
  echo "$b"
}

t_mk=$(best "$mksetup" build "$work/manifest.toml" -o "$work/out" --clean -q)
pkg=$(du -cb "$work"/out/*.dat | tail -1 | cut -f1)
t_gcab=$(best bash -c "cd '$work/payload' && rm -f ../g.cab && gcab -c -z ../g.cab */*")
gcab_size=$(stat -c %s "$work/g.cab")

python3 - "$files" "$payload" "$t_mk" "$pkg" "$t_gcab" "$gcab_size" <<'PY'
import sys
files, payload, t_mk, pkg, t_gcab, gsize = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3]), int(sys.argv[4]), float(sys.argv[5]), int(sys.argv[6])
mib = payload / 1048576
print(f"payload: {files} files, {mib:.1f} MiB")
print(f"mksetup build: {t_mk:.2f} s, {files / t_mk:.0f} files/s, {mib / t_mk:.1f} MiB/s, ratio {pkg / payload:.3f} (package/payload)")
print(f"gcab -c -z:    {t_gcab:.2f} s, {files / t_gcab:.0f} files/s, {mib / t_gcab:.1f} MiB/s, ratio {gsize / payload:.3f}")
print(f"time ratio mksetup/gcab: {t_mk / t_gcab:.2f} (goal <= 2.0); size ratio goal <= 0.72")
PY
