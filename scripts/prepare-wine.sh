#!/usr/bin/env bash
# Prepares the private Wine prefix, home and Korean locale of one build folder.
# Usage: prepare-wine.sh BUILD_DIR   (idempotent; the prefix takes ~30 s the first time)
set -euo pipefail
build=$(cd "$1" && pwd)
root="$build/wine"
mkdir -p "$root/home" "$root/locale"

# Wine takes its code page from the glibc locale, which must exist.
if [ ! -d "$root/locale/ko_KR.UTF-8" ]; then
  localedef -i ko_KR -f UTF-8 "$root/locale/ko_KR.UTF-8" 2>/dev/null || true
  [ -d "$root/locale/ko_KR.UTF-8" ] || { echo "prepare-wine: could not compile ko_KR.UTF-8" >&2; exit 1; }
fi

export WINEPREFIX="$root/prefix" HOME="$root/home"
export XDG_DATA_HOME="$HOME/.local/share" XDG_CONFIG_HOME="$HOME/.config" XDG_CACHE_HOME="$HOME/.cache"
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
wine=/usr/lib/wine/wine64

trap 'echo "prepare-wine: failed: $BASH_COMMAND (line $LINENO)" >&2' ERR

# Every step in one virtual display, and the prefix's server ended inside it:
# no Wine process is left talking to a display that has gone, and the
# registry is on disk before the next step.
if [ ! -f "$root/prefix.ready" ] || [ ! -f "$root/unmanaged.ready" ]; then
  [ -f "$root/prefix.ready" ] || rm -rf "$WINEPREFIX"
  xvfb-run -a -s "-screen 0 1024x768x24" bash -s -- "$root" "$wine" <<'SESSION'
set -euo pipefail
root=$1 wine=$2
trap 'echo "prepare-wine: failed: $BASH_COMMAND (line $LINENO)" >&2' ERR
if [ ! -f "$root/prefix.ready" ]; then
  "$wine" wineboot -i
  # Map the faces the string table asks for onto fonts Debian ships.
  "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Arial /d 'Liberation Sans' /f >/dev/null
  LANG=ko_KR.UTF-8 LC_ALL=ko_KR.UTF-8 LOCPATH="$root/locale" \
    "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v '굴림' /d NanumGothic /f >/dev/null
fi
# No window manager runs under Xvfb: Wine would wait about 2 s for one to
# acknowledge every window it hides. Unmanaged windows skip that wait (a
# window manager draws nothing here anyway).
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
/usr/lib/wine/wineserver -w
SESSION
  touch "$root/prefix.ready" "$root/unmanaged.ready"
fi
echo "prepare-wine: prefix ready at $WINEPREFIX"
