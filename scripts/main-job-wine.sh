#!/usr/bin/env bash
# The Wine half of the main job; runs on the display xvfb-run gave it.
set -euo pipefail
source "$(dirname "$0")/common.sh"
out=$1
wine_session_start
trap wine_session_stop EXIT

drive_c="$WINEPREFIX/drive_c"
demo="$drive_c/cabsetup-demo"
rm -rf "$demo"
mkdir -p "$demo/empty"
cp build/win64/src/setup.exe "$demo/empty/setup.exe"
# A batch file reports the program's whole exit code (Linux sees only its low byte).
printf '@echo off\r\ncd /d %%~dp0\r\nsetup.exe %%*\r\necho exit code %%errorlevel%%\r\n' >"$demo/empty/run.bat"
# The example package, built by mksetup, with the tested setup.exe in it.
build/native/tools/mksetup/mksetup build examples/hello/manifest.toml -o "$demo/package" --clean -q \
  --setup-exe build/win64/src/setup.exe >"$out/mksetup-build.txt"
build/native/tools/mksetup/mksetup inspect "$demo/package" >"$out/inspect.txt"
build/native/tools/mksetup/mksetup verify "$demo/package" --against examples/hello/manifest.toml >"$out/verify.txt" || true
printf '@echo off\r\ncd /d %%~dp0\r\nsetup.exe %%*\r\necho exit code %%errorlevel%%\r\n' >"$demo/package/run.bat"
cp build/win64/tests/startup_probe.exe "$demo/package/"

run() { { "$wine64" cmd /c "$@" 2>/dev/null || true; } | tr -d "\r"; }

{
  echo "== setup.exe: $(stat -c %s build/win32/src/setup.exe) bytes (i686, shipped), $(stat -c %s build/win64/src/setup.exe) bytes (x86_64, tested)"
  echo
  echo "== mksetup built the example package:"
  cat "$out/mksetup-build.txt"
  echo "   verify: $(tail -n 1 "$out/verify.txt") (inspect.txt and verify.txt hold the details)"
  echo
  echo "== The example package (full installation), start-up as setup.exe runs it with /a:"
  run 'C:\cabsetup-demo\package\startup_probe.exe' /a
  echo
  echo "== setup.exe /a /s on the example package (start-up passes; the wizard is not built yet):"
  run 'C:\cabsetup-demo\package\run.bat' /a /s
  echo
  echo "== The install engine (worker thread, system cabinet interface) installs the example package:"
  cp build/win64/bench/engine_driver.exe "$demo/"
  rm -rf "$drive_c/Program Files/Example Software/Hello"
  run 'C:\cabsetup-demo\engine_driver.exe' 'C:\cabsetup-demo\package' 'C:\Program Files\Example Software\Hello'
  (cd "$drive_c/Program Files/Example Software/Hello" && find . -type f -printf '   %P (%s bytes)\n' | sort)
  echo
  echo "== setup.exe /a /s with no setup.inf:"
  run 'C:\cabsetup-demo\empty\run.bat' /a /s
  echo "status file: $(cat "$demo/empty/installerror.txt")"
  echo
  echo "== setup.exe with no setup.inf, interactive:"
} >"$out/summary.txt"

# The interactive refusal: wait for the box, photograph it, press Enter.
( run 'C:\cabsetup-demo\empty\run.bat' >"$out/interactive.txt" ) &
runner=$!
if box=$(timeout 60 xdotool search --sync --onlyvisible --name '^setup$' | head -n 1); then
  sleep 1
  import -window root "$out/init-error.png"
  xdotool key --window "$box" Return
  echo "message box \"setup\" shown; screenshot init-error.png" >>"$out/summary.txt"
else
  echo "no message box appeared within 60 s" >>"$out/summary.txt"
fi
wait "$runner" || true
cat "$out/interactive.txt" >>"$out/summary.txt"
