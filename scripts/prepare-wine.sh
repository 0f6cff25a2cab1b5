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

if [ ! -f "$root/prefix.ready" ]; then
  rm -rf "$WINEPREFIX"
  xvfb-run -a -s "-screen 0 1024x768x24" "$wine" wineboot -i
  # Map the faces the string table asks for onto fonts Debian ships.
  xvfb-run -a -s "-screen 0 1024x768x24" "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Arial /d 'Liberation Sans' /f >/dev/null
  LANG=ko_KR.UTF-8 LC_ALL=ko_KR.UTF-8 LOCPATH="$root/locale" \
    xvfb-run -a -s "-screen 0 1024x768x24" "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v '굴림' /d NanumGothic /f >/dev/null
  /usr/lib/wine/wineserver -w
  touch "$root/prefix.ready"
fi
# No window manager runs under Xvfb: Wine would wait about 2 s for one to
# acknowledge every window it hides. Unmanaged windows skip that wait (a
# window manager draws nothing here anyway).
if [ ! -f "$root/unmanaged.ready" ]; then
  xvfb-run -a -s "-screen 0 1024x768x24" "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
  /usr/lib/wine/wineserver -w
  touch "$root/unmanaged.ready"
fi
echo "prepare-wine: prefix ready at $WINEPREFIX"
