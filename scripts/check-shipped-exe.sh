#!/usr/bin/env bash
# Static checks of a built setup.exe or uninstall.exe: it imports only system
# DLLs, its resources hold both string tables, the manifest and the icon
# (setup.exe also its three dialogs and the header picture), and the shipped
# i686 build stays small (setup.exe 320 KiB, uninstall.exe 176 KiB).
# Usage: check-shipped-exe.sh EXE ARCH(i686|x86_64) [setup|uninstall]
set -euo pipefail
exe=$1 arch=$2 kind=${3:-setup}
if [ "$kind" = setup ]; then
  # 300 KiB until it kept a run log and checked a signed package's digests
  # (together they took it to 302 KiB); room for a little more.
  ids='60[0-9][0-9]' strings=54 first=6002 last=6062 limit=327680
else
  # 150 KiB until it kept a run log (its lines, the flusher thread and the
  # file's UTF-8 conversion took it to 169 KiB); room for a little more.
  ids='610[0-9]' strings=7 first=6101 last=6107 limit=180224
fi
objdump=$arch-w64-mingw32-objdump
windres=$arch-w64-mingw32-windres
fail=0

dlls=$($objdump -p "$exe" | awk '/DLL Name:/ {print toupper($3)}' | sort -u)
allowed='^(KERNEL32|USER32|GDI32|ADVAPI32|MSVCRT)\.DLL$'
# Bound at their first call instead: a run that never browses, asks for a
# file, makes a shortcut or needs the system's cabinet interface never loads them.
late='^(SHELL32|OLE32|COMDLG32|SETUPAPI|WINTRUST|COMCTL32)\.DLL$'
for d in $dlls; do
  if [[ $d =~ $late ]]; then echo "FAIL: imports $d, which is bound at run time, when first needed"; fail=1
  elif ! [[ $d =~ $allowed ]]; then echo "FAIL: imports $d, which is not a system DLL"; fail=1; fi
done

rc=$(mktemp)
trap 'rm -f "$rc"' EXIT
# Resources as windres reads them back from the program file itself.
$windres -i "$exe" -J pe-i386 -O rc -o "$rc" 2>/dev/null || $windres -i "$exe" -O rc -o "$rc"
count() { awk -v want="$1" -v ids="^  $ids," '/^LANGUAGE 9, 1/ {lang="en"} /^LANGUAGE 18, 1/ {lang="ko"} lang==want && $0 ~ ids {n++} END {print n+0}' "$rc"; }
english=$(count en) korean=$(count ko)
[ "$english" -eq "$strings" ] || { echo "FAIL: $english English strings, expected $strings ($first-$last, with gaps)"; fail=1; }
[ "$korean" -eq "$strings" ] || { echo "FAIL: $korean Korean strings, expected $strings ($first-$last, with gaps)"; fail=1; }
grep -q 'requireAdministrator' "$exe" || { echo "FAIL: no manifest asking for administrator rights"; fail=1; }
grep -q '^128 ICON\|^128 GROUP_ICON' "$rc" || grep -qi 'icon' "$rc" || { echo "FAIL: no icon 128"; fail=1; }

if [ "$kind" = setup ]; then
  for dialog in 129 135 139; do
    grep -q "^$dialog DIALOGEX" "$rc" || { echo "FAIL: no dialog $dialog"; fail=1; }
  done
  grep -qE '^137 (BITMAP|2 /\* RT_BITMAP)' "$rc" || { echo "FAIL: no bitmap 137"; fail=1; }
fi

size=$(stat -c %s "$exe")
if [ "$arch" = i686 ] && [ "$size" -gt "$limit" ]; then
  echo "FAIL: $size bytes, more than $((limit / 1024)) KiB"
  fail=1
fi
echo "$kind.exe ($arch): $size bytes; imports: $(echo $dlls | tr '\n' ' '); strings: $english English, $korean Korean"
exit $fail
