#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need.
# Never enables i386: nothing here runs 32-bit code on the host.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64
  wine wine64 fonts-wine fonts-nanum fonts-liberation2 locales
  xvfb xauth xdotool imagemagick
  googletest libgtest-dev
  libmspack-dev zlib1g-dev libz-mingw-w64-dev
  libtomlplusplus-dev libcli11-dev
  gcab cabextract nsis
  help2man dpkg-dev zip unzip file osslsigncode openssl
  chromium
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
echo "install-deps: all ${#packages[@]} packages present"
