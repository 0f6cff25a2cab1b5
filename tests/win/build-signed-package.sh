#!/usr/bin/env bash
# Builds the example package signed with a throwaway certificate, as a vendor
# does with mksetup, for the Wine tests of a signed package. Exit 77 (skipped)
# when the native mksetup, openssl or osslsigncode is not there.
# Usage: build-signed-package.sh MKSETUP SETUP_EXE UNINSTALL_EXE MANIFEST OUT
set -euo pipefail
mksetup=$1 setup=$2 uninstall=$3 manifest=$4 out=$5
for tool in "$mksetup" openssl osslsigncode; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not there (build the native preset first)"; exit 77; }
done
keys=$(mktemp -d)
trap 'rm -rf "$keys"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Throwaway Test Vendor" \
  -keyout "$keys/vendor.key" -out "$keys/vendor.pem" 2>/dev/null
"$mksetup" build "$manifest" -o "$out" --clean -q --setup-exe "$setup" --uninstall-exe "$uninstall" \
  --sign-cert "$keys/vendor.pem" --sign-key "$keys/vendor.key"
# The package's setup.exe is the one given plus a filled block and a signature, nothing else.
"$mksetup" verify "$out" --ca "$keys/vendor.pem" --against "$manifest" --setup-exe "$setup" \
  --uninstall-exe "$uninstall" >/dev/null
echo "signed package in $out"
