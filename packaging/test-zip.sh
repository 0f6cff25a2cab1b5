#!/usr/bin/env bash
# The Windows zip holds mksetup.exe, setup.exe, uninstall.exe, cabsetup-drive.exe (i686) and the manual.
# Usage: test-zip.sh VERSION (from the source folder)
set -euo pipefail
version=$1
zip="out/packages/cabsetup-$version-windows.zip"
listing=$(unzip -Z1 "$zip")
for f in mksetup.exe setup.exe uninstall.exe cabsetup-drive.exe manifest.md; do
  grep -qx "cabsetup-$version-windows/$f" <<<"$listing" || { echo "FAIL: $zip lacks $f"; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unzip -q "$zip" -d "$work"
for f in mksetup.exe setup.exe uninstall.exe cabsetup-drive.exe; do
  file "$work/cabsetup-$version-windows/$f" | grep -q "PE32 executable.*Intel 80386" || { echo "FAIL: $f is not an i686 program"; exit 1; }
done
echo "zip: $(stat -c %s "$zip") bytes, $(wc -l <<<"$listing") entries"
