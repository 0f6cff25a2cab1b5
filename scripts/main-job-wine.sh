#!/usr/bin/env bash
# The Wine half of the main job; runs on the display xvfb-run gave it. The
# wizard's pages are driven and photographed by mksetup try (main-job.sh).
set -euo pipefail
source "$(dirname "$0")/common.sh"
out=$1
wine_session_start
trap wine_session_stop EXIT

drive_c="$WINEPREFIX/drive_c"
demo="$drive_c/cabsetup-demo"
target="$drive_c/Program Files/Example Software/Hello"
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\ExampleHello'
rm -rf "$demo" "$target"
"$wine64" reg delete "$uninstall" /f >/dev/null 2>&1 || true
mkdir -p "$demo/empty"
# The newest run log of that name in the user's %TEMP%, as an administrator finds it.
runlog() {
  local log
  log=$(find "$drive_c/users" -path '*/Temp/*' -name "cabsetup-$1*.log" -printf '%T@ %p\n' 2>/dev/null | sort -n | tail -n 1 | cut -d' ' -f2-)
  if [ -z "$log" ]; then echo "   run log: none found"; return; fi
  echo "   run log (%TEMP%\\$(basename "$log")):"
  sed '1s/^\xEF\xBB\xBF//; s/\r$//; s/^/      /' "$log"
}
cp build/win64/src/setup.exe "$demo/empty/setup.exe"
# A batch file reports the program's whole exit code (Linux sees only its low byte).
runner='@echo off\r\ncd /d %%~dp0\r\nsetup.exe %%*\r\necho exit code %%errorlevel%%\r\n'
printf "$runner" >"$demo/empty/run.bat"
# The example package and its update, built by mksetup, with the tested setup.exe in them.
mksetup=build/native/tools/mksetup/mksetup
$mksetup build examples/hello/manifest.toml -o "$demo/hello" --clean -q --setup-exe build/win64/src/setup.exe \
  --uninstall-exe build/win64/src/uninstall.exe >"$out/mksetup-build.txt"
$mksetup build examples/hello-update/manifest.toml -o "$demo/hello-update" --clean -q --setup-exe build/win64/src/setup.exe >>"$out/mksetup-build.txt"
{ $mksetup inspect "$demo/hello"; echo; $mksetup inspect "$demo/hello-update"; } >"$out/inspect.txt"
$mksetup verify "$demo/hello" --against examples/hello/manifest.toml --uninstall-exe build/win64/src/uninstall.exe \
  >"$out/verify.txt" || true
printf "$runner" >"$demo/hello/run.bat"
printf "$runner" >"$demo/hello-update/run.bat"
printf '@echo off\r\ncd /d %%~dp0\r\n"C:\\Program Files\\Example Software\\Hello\\uninstall.exe" Hello %%*\r\necho exit code %%errorlevel%%\r\n' >"$demo/hello/uninstall.bat"

run() { { "$wine64" cmd /c "$@" 2>/dev/null || true; } | tr -d "\r"; }
registered() {
  echo "   registry:"
  for key in "$uninstall" 'HKLM\Software\Example Software\Hello' 'HKCU\Software\Example Software\Hello'; do
    "$wine64" reg query "$key" 2>/dev/null | tr -d '\r' | sed -n 's/^    /      /p' | sed "s|^|   ${key%%\\*}: |" || true
  done
  echo "   links:"
  find "$drive_c" -name 'Hello readme.lnk' -printf '      %P (%s bytes)\n' 2>/dev/null
}

{
  echo "== setup.exe: $(stat -c %s build/win32/src/setup.exe) bytes (i686, shipped), $(stat -c %s build/win64/src/setup.exe) bytes (x86_64, tested)"
  echo
  echo "== mksetup built the example package and its update:"
  cat "$out/mksetup-build.txt"
  echo "   verify: $(tail -n 1 "$out/verify.txt") (inspect.txt and verify.txt hold the details)"
  echo
  echo "== setup.exe /a /s installs examples/hello:"
  rm -f "$drive_c/windows/temp/hello-ran.txt"
  run 'C:\cabsetup-demo\hello\run.bat' /a /s | sed 's/^/   /'
  echo "   status file: $(cat "$demo/hello/installerror.txt")"
  echo "   installed:"
  (cd "$target" && find . -type f -printf '      %P (%s bytes)\n' | sort)
  registered
  echo "   the program it ran left: $(tr -d '\r' <"$drive_c/windows/temp/hello-ran.txt" 2>/dev/null || echo nothing)"
  echo "   flist.lst:"
  sed 's/^/      /' "$target/flist.lst"
  runlog "ExampleHello-2"
  echo
  echo "== setup.exe /a /s installs examples/hello-update over it:"
  run 'C:\cabsetup-demo\hello-update\run.bat' /a /s | sed 's/^/   /'
  echo "   status file: $(cat "$demo/hello-update/installerror.txt")"
  echo "   InstalledVersion: $("$wine64" reg query "$uninstall" /v InstalledVersion 2>/dev/null | tr -d '\r' | awk '/InstalledVersion/ {print $3}')"
  echo "   changes.txt: $(head -n 1 "$target/changes.txt" | tr -d '\r')"
  echo "   what the list of programs shows now:"
  for v in DisplayName DisplayVersion InstallDate EstimatedSize; do
    "$wine64" reg query "$uninstall" /v "$v" 2>/dev/null | tr -d '\r' | sed -n 's/^    /      /p'
  done
  echo
  echo "== uninstall.exe removes it, as Add/Remove Programs starts it (\"...\\uninstall.exe\" Hello /a /s):"
  mkdir -p "$target/notes" && echo "the user's own" >"$target/notes/mine.txt"
  run 'C:\cabsetup-demo\hello\uninstall.bat' /a /s | sed 's/^/   /'
  sleep 2  # the copy deletes uninstall.exe once the started program has ended
  echo "   status file: $(cat "$demo/hello/installerror.txt")"
  echo "   left in the target folder (the user's file was never logged):"
  (cd "$target" 2>/dev/null && find . -mindepth 1 -printf '      %P\n' | sort) || echo "      (the folder is gone)"
  registered
  runlog "ExampleHello-uninstall-"
  echo
  echo "== setup.exe /a /s with no setup.inf:"
  run 'C:\cabsetup-demo\empty\run.bat' /a /s | sed 's/^/   /'
  echo "   status file: $(cat "$demo/empty/installerror.txt")"
  echo
  echo "== setup.exe with no setup.inf, interactive:"
} >"$out/summary.txt"

# The interactive refusal: wait for the box, photograph it, press Enter.
( run 'C:\cabsetup-demo\empty\run.bat' >"$out/interactive.txt" ) &
runner_pid=$!
if box=$(timeout 60 xdotool search --sync --onlyvisible --name '^setup$' | head -n 1); then
  sleep 1
  import -window root "$out/init-error.png"
  xdotool key --window "$box" Return
  echo "   message box \"setup\" shown; screenshot init-error.png" >>"$out/summary.txt"
else
  echo "   no message box appeared within 60 s" >>"$out/summary.txt"
fi
wait "$runner_pid" || true
sed 's/^/   /' "$out/interactive.txt" >>"$out/summary.txt"
