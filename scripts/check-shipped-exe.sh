#!/usr/bin/env bash
# Static checks of a built setup.exe: it imports only system DLLs, its
# resources hold both string tables, the three dialogs, the header picture,
# the manifest and the icon, and the shipped i686 build stays within 300 KiB.
# Usage: check-shipped-exe.sh SETUP_EXE ARCH(i686|x86_64)
set -euo pipefail
exe=$1 arch=$2
objdump=$arch-w64-mingw32-objdump
windres=$arch-w64-mingw32-windres
fail=0

dlls=$($objdump -p "$exe" | awk '/DLL Name:/ {print toupper($3)}' | sort -u)
allowed='^(KERNEL32|USER32|GDI32|ADVAPI32|SHELL32|OLE32|COMCTL32|COMDLG32|SETUPAPI|MSVCRT)\.DLL$'
for d in $dlls; do
  [[ $d =~ $allowed ]] || { echo "FAIL: imports $d, which is not a system DLL"; fail=1; }
done

rc=$(mktemp)
trap 'rm -f "$rc"' EXIT
# Resources as windres reads them back from the program file itself.
$windres -i "$exe" -J pe-i386 -O rc -o "$rc" 2>/dev/null || $windres -i "$exe" -O rc -o "$rc"
english=$(awk '/^LANGUAGE 9, 1/ {lang="en"} /^LANGUAGE 18, 1/ {lang="ko"} lang=="en" && /^  60[0-9][0-9],/ {n++} END {print n+0}' "$rc")
korean=$(awk '/^LANGUAGE 9, 1/ {lang="en"} /^LANGUAGE 18, 1/ {lang="ko"} lang=="ko" && /^  60[0-9][0-9],/ {n++} END {print n+0}' "$rc")
[ "$english" -eq 51 ] || { echo "FAIL: $english English strings, expected 51 (6002-6052)"; fail=1; }
[ "$korean" -eq 51 ] || { echo "FAIL: $korean Korean strings, expected 51 (6002-6052)"; fail=1; }
grep -q 'requireAdministrator' "$exe" || { echo "FAIL: no manifest asking for administrator rights"; fail=1; }
grep -q '^128 ICON\|^128 GROUP_ICON' "$rc" || grep -qi 'icon' "$rc" || { echo "FAIL: no icon 128"; fail=1; }

for dialog in 129 135 139; do
  grep -q "^$dialog DIALOGEX" "$rc" || { echo "FAIL: no dialog $dialog"; fail=1; }
done
grep -qE '^137 (BITMAP|2 /\* RT_BITMAP)' "$rc" || { echo "FAIL: no bitmap 137"; fail=1; }

size=$(stat -c %s "$exe")
if [ "$arch" = i686 ] && [ "$size" -gt 307200 ]; then
  echo "FAIL: $size bytes, more than 300 KiB"
  fail=1
fi
echo "setup.exe ($arch): $size bytes; imports: $(echo $dlls | tr '\n' ' '); strings: $english English, $korean Korean"
exit $fail
