#!/usr/bin/env bash
# Runs a cross-built Windows program under wine with the Qt and mingw runtime
# DLLs on its path, in the build's own wine prefix (made on first use).
#   scripts/wine-run.sh PROGRAM.exe [arguments...]
# KJ_WIN_BUILD names the build folder (default build-windows beside scripts/).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KJ_WIN_BUILD:-$here/build-windows}
export WINEPREFIX=${WINEPREFIX:-$build/wine}
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=-all
export WINEARCH=win64
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    # Two builds racing to make the prefix would corrupt it.
    exec 9>"$build/.wine-prefix.lock"
    flock 9
    [ -f "$WINEPREFIX/system.reg" ] || { wineboot -i >/dev/null 2>&1; wineserver -w; }
    flock -u 9
fi
# An installed program brings its own DLLs: KJ_WINE_BARE=1 keeps the build's off the path.
if [ "${KJ_WINE_BARE:-0}" != 1 ]; then
    gcc_dll=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
    pthread_dll=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libwinpthread-1.dll)")
    export WINEPATH="$build/qt6-mingw/bin;$gcc_dll;$pthread_dll"
fi
exec wine "$@"
