#!/usr/bin/env bash
# Rebuilds qt-6.4.2-mingw-w64.tar.xz, the Qt for Windows that `dev.sh windows`
# unpacks, from Debian 12's own qt6-base source, for anyone without the shared
# archive. About 45 minutes on 2 cores.
#   scripts/build-qt-mingw.sh [WORK_DIR]     the archive ends up in WORK_DIR
# Needs deb-src lines in the apt sources; installs the packages of `dev.sh windows`.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mkdir -p "${1:-$PWD/qt-mingw-build}" && cd "${1:-$PWD/qt-mingw-build}" && pwd)
toolchain=$here/packaging/windows/mingw-w64-x86_64.cmake
jobs=$(nproc 2>/dev/null || echo 2)
src=$work/qtbase-everywhere-src-6.4.2

"$here/scripts/dev.sh" deps windows
cd "$work"
if [ ! -d "$src" ]; then
    apt-get source --download-only qt6-base=6.4.2+dfsg-10
    tar -xJf qt6-base_6.4.2+dfsg.orig.tar.xz
fi

# The dfsg source lacks the Wintab headers (no pen-tablet input then), and
# 6.4.2 does not build its dynamic-GL path without OpenGL.
windows=$src/src/plugins/platforms/windows
sed -i 's/QT_CONFIG(tabletevent)/0/g' \
    "$windows/qwindowscontext.cpp" "$windows/qwindowspointerhandler.cpp" "$windows/qwindowspointerhandler.h"
sed -i 's/CONDITION QT_FEATURE_tabletevent/CONDITION FALSE/' \
    "$windows/CMakeLists.txt" "$src/src/plugins/platforms/direct2d/CMakeLists.txt"
sed -i 's/#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' "$windows/qwindowswindow.cpp"

features=()
for f in opengl dbus sql network printsupport concurrent xml vulkan system_zlib system_pcre2 system_harfbuzz \
    system_freetype system_libpng system_jpeg system_doubleconversion; do
    features+=("-DFEATURE_$f=OFF")
done
cmake -S "$src" -B "$work/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_INSTALL_PREFIX="$work/qt6-mingw" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF "${features[@]}" -DINPUT_openssl=no
ninja -C "$work/build" -j "$jobs"
ninja -C "$work/build" install
tar -cJf "$work/qt-6.4.2-mingw-w64.tar.xz" -C "$work" qt6-mingw
echo "$work/qt-6.4.2-mingw-w64.tar.xz"
