#!/usr/bin/env bash
# Runs a cross-built Windows program under wine with the Qt and mingw runtime
# DLLs on its path, in the build's own wine prefix (made on first use).
#   scripts/wine-run.sh PROGRAM.exe [arguments...]
# KJ_WIN_BUILD names the build folder (default build-windows beside scripts/).
# Needs the packages of `scripts/dev.sh deps windows`.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KJ_WIN_BUILD:-$here/build-windows}
# Wine maps Windows paths to the host's through the locale: Cyrillic folder
# names need a UTF-8 one, whatever the caller has.
export LC_ALL=C.UTF-8
export WINEPREFIX=${WINEPREFIX:-$build/wine}
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=-all
export WINEARCH=win64
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    # Two builds racing to make the prefix would corrupt it.
    exec 9>"$build/.wine-prefix.lock"
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        if ! wineboot -i >"$build/wine-prefix.log" 2>&1 || ! wineserver -w; then
            cat "$build/wine-prefix.log" >&2
            echo "wine-run.sh: could not make the wine prefix $WINEPREFIX" >&2
            exit 1
        fi
    fi
    flock -u 9
fi
# An installed program brings its own DLLs: KJ_WINE_BARE=1 keeps the build's off the path.
if [ "${KJ_WINE_BARE:-0}" != 1 ]; then
    gcc_dll=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
    pthread_dll=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libwinpthread-1.dll)")
    export WINEPATH="$build/qt6-mingw/bin;$gcc_dll;$pthread_dll"
fi
exec wine "$@"
