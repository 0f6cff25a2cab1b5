#!/usr/bin/env bash
# Installs the Debian package, builds examples/hello with the installed
# mksetup and no --setup-exe, signs it with a throwaway certificate (PEM and
# PKCS#12), verifies it (a program changed after signing must fail), and
# removes the package again. Usage: test-deb.sh VERSION (from the source folder)
set -euo pipefail
version=$1
deb=$(ls out/packages/cabsetup_"$version"_*.deb)
work=$(mktemp -d)
cleanup() { dpkg -r cabsetup >/dev/null 2>&1 || true; rm -rf "$work"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

dpkg -i "$deb" >/dev/null
[ "$(command -v mksetup)" = /usr/bin/mksetup ] || fail "mksetup not on the PATH"
mksetup --version | grep -qx "mksetup (cabsetup) $version" || fail "--version: $(mksetup --version)"
[ -f /usr/share/cabsetup/setup.exe ] && [ -f /usr/share/cabsetup/uninstall.exe ] && [ -f /usr/share/cabsetup/cabsetup-drive.exe ] || fail "no setup.exe, uninstall.exe or cabsetup-drive.exe installed"
zcat /usr/share/man/man1/mksetup.1.gz | grep -q -- "--sign-pkcs12" || fail "man page lacks the build command's options"

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=cabsetup test vendor" 2>/dev/null
mksetup build examples/hello/manifest.toml -o "$work/hello" --clean -q \
  --sign-cert "$work/cert.pem" --sign-key "$work/key.pem" >"$work/build.txt"
grep -qx "setup.exe: /usr/share/cabsetup/setup.exe" "$work/build.txt" || fail "setup.exe not taken from the installation: $(cat "$work/build.txt")"
grep -qx "uninstall.exe: /usr/share/cabsetup/uninstall.exe" "$work/build.txt" || fail "uninstall.exe not taken from the installation"
grep -q "^signed .*setup.exe" "$work/build.txt" && grep -qx "signed uninstall.exe" "$work/build.txt" || fail "not signed: $(cat "$work/build.txt")"
mksetup verify "$work/hello" --against examples/hello/manifest.toml --ca "$work/cert.pem" >"$work/verify.txt" \
  || fail "verify of the signed package: $(cat "$work/verify.txt")"
grep -qx "setup.exe: signed by /CN=cabsetup test vendor, valid" "$work/verify.txt" || fail "$(cat "$work/verify.txt")"

# Changed after signing: the signature no longer matches.
printf 'x' | dd of="$work/hello/setup.exe" bs=1 seek=4096 conv=notrunc 2>/dev/null
if mksetup verify "$work/hello" --ca "$work/cert.pem" >"$work/tampered.txt"; then fail "a changed program verified"; fi
grep -q "^setup.exe: signed by .*NOT VALID" "$work/tampered.txt" || fail "$(cat "$work/tampered.txt")"

# A PKCS#12 file, its password from the environment only.
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/vendor.p12" -passout pass:s3cret
CABSETUP_SIGN_PASSWORD=s3cret mksetup build examples/hello/manifest.toml -o "$work/hello2" --clean -q \
  --sign-pkcs12 "$work/vendor.p12" >/dev/null || fail "PKCS#12 signing"
mksetup verify "$work/hello2" --ca "$work/cert.pem" | grep -qx "setup.exe: signed by /CN=cabsetup test vendor, valid" \
  || fail "PKCS#12 signature"
if CABSETUP_SIGN_PASSWORD=wrong mksetup build examples/hello/manifest.toml -o "$work/hello3" --clean -q \
  --sign-pkcs12 "$work/vendor.p12" >/dev/null 2>&1; then fail "a wrong password signed"; fi

# mksetup try from the installed package, straight from the example's
# manifest folder. This machine runs only x86_64 Windows programs, so the
# win64 build's setup.exe, uninstall.exe and driver stand in for the
# installed i686 ones; everything else is the installed mksetup's.
win64=build/win64
[ -f "$win64/src/setup.exe" ] && [ -f "$win64/tools/drive/cabsetup-drive.exe" ] ||
  fail "no win64 build beside the source (build the win64 preset first): mksetup try cannot run here"
before=$(ls -d "${TMPDIR:-/tmp}"/mksetup-* 2>/dev/null || true)
mksetup try examples/hello --report "$work/try" --setup-exe "$win64/src/setup.exe" \
    --uninstall-exe "$win64/src/uninstall.exe" --driver "$win64/tools/drive/cabsetup-drive.exe" \
    >"$work/try.txt" 2>&1 || fail "mksetup try: $(tail -n 20 "$work/try.txt")"
grep -qx "building examples/hello/manifest.toml" "$work/try.txt" || fail "try did not build the manifest first"
grep -qx "passed: $work/try/index.html" "$work/try.txt" || fail "$(tail -n 5 "$work/try.txt")"
python3 - "$work/try/report.json" <<'PY' || fail "the report lacks a page's picture"
import json, os, sys
report = json.load(open(sys.argv[1]))
wizards = [r for r in report["runs"] if r["kind"] == "wizard"]
assert sorted(r["language"] for r in wizards) == ["en", "ko"], wizards
for r in wizards:
    pictures = [p for p in r["pages"] if os.path.getsize(os.path.join(os.path.dirname(sys.argv[1]), p["picture"])) > 0]
    assert len(pictures) == 5, (r["language"], r["pages"])
assert not report["failed"], report["failed"]
PY
[ "$(ls -d "${TMPDIR:-/tmp}"/mksetup-* 2>/dev/null || true)" = "$before" ] || fail "try left a folder in ${TMPDIR:-/tmp}"

dpkg -r cabsetup >/dev/null
[ ! -e /usr/bin/mksetup ] && [ ! -e /usr/share/cabsetup ] || fail "the package left files behind"
echo "deb: installed, built, signed, verified, tried and removed"
