#!/usr/bin/env bash
# The vendor's kit in out/packages/: the Debian package (mksetup, the
# shipped i686 setup.exe and uninstall.exe, the manual, the man page) and a
# zip for Windows vendors (mksetup.exe, setup.exe, uninstall.exe,
# cabsetup-drive.exe, the manual).
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$root"
build_preset win32
build_preset release
out="$root/out/packages"
rm -rf "$out"
mkdir -p "$out"
(cd build/release && cpack -G DEB -B "$out" >/dev/null)
rm -rf "$out/_CPack_Packages"

version=$(sed -n 's/^#define CABSETUP_VERSION "\(.*\)"/\1/p' build/release/generated/cabsetup_version.h)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
kit="$stage/cabsetup-$version-windows"
mkdir -p "$kit"
cp build/win32/tools/mksetup/mksetup.exe build/win32/src/setup.exe build/win32/src/uninstall.exe \
  build/win32/tools/drive/cabsetup-drive.exe docs/manifest.md "$kit/"
(cd "$stage" && zip -q -r -9 "$out/cabsetup-$version-windows.zip" "cabsetup-$version-windows")
ls -l "$out"
