# Shared by the project's scripts: build folders and the Wine session.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
wine64=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

build_preset() {  # configure and build one preset, quietly unless it fails
  local preset=$1 log="$root/build/$1.log"
  mkdir -p "$root/build"
  if ! { cmake --preset "$preset" && cmake --build --preset "$preset"; } >"$log" 2>&1; then
    tail -n 60 "$log" >&2
    echo "build of preset $preset failed (log: $log)" >&2
    return 1
  fi
  echo "built preset $preset"
}

# Environment of the win64 build's private prefix, as cmake/wine-run.sh.in sets it.
wine_env() {
  local w="$root/build/win64/wine"
  export WINEPREFIX="$w/prefix" HOME="$w/home" LOCPATH="$w/locale"
  export XDG_DATA_HOME="$HOME/.local/share" XDG_CONFIG_HOME="$HOME/.config" XDG_CACHE_HOME="$HOME/.cache"
  export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
}

# Starts the prefix's wineserver and services once, with no pipe of ours
# inherited: otherwise the services hold a test's output open and CTest waits.
wine_session_start() {
  wine_env
  "$wineserver" -p
  "$wine64" cmd /c exit >/dev/null 2>&1 </dev/null || true
}

wine_session_stop() {
  wine_env
  "$wineserver" -k 2>/dev/null || true
}
