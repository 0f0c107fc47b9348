#!/usr/bin/env bash
# Packs a cross-built korvel-jig: stripped programs and DLLs in one folder,
# then the NSIS installer and a portable .zip beside it.
#   scripts/windows-package.sh BUILD_DIR     prints the installer's path
# Needs the packages of `scripts/dev.sh deps windows`.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
version=$(sed -n 's/^project(korvel-jig VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
name=korvel-jig-$version
stage=$build/package/$name
qt=$build/qt6-mingw
cxx=x86_64-w64-mingw32-g++-posix

rm -rf "$build/package"
mkdir -p "$stage/platforms" "$stage/styles"
cp "$build/src/app/korvel-jig.exe" "$build/src/cli/korvel-cli.exe" "$stage/"
cp "$qt"/bin/Qt6{Core,Gui,Widgets}.dll "$stage/"
# Qt looks for its plugins beside the program as well.
cp "$qt/plugins/platforms/qwindows.dll" "$stage/platforms/"
cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$stage/styles/"
for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
    cp "$($cxx -print-file-name=$dll)" "$stage/"
done
find "$stage" -name '*.exe' -o -name '*.dll' | xargs x86_64-w64-mingw32-strip --strip-unneeded

# The uninstaller removes exactly the files it installed.
(cd "$stage" && find . -type f | sed 's|^\./||; s|/|\\|g; s|.*|  Delete "$INSTDIR\\&"|') >"$build/package/uninstall-files.nsh"
(cd "$stage" && find . -mindepth 1 -type d | sed 's|^\./||; s|/|\\|g; s|.*|  RMDir "$INSTDIR\\&"|') >>"$build/package/uninstall-files.nsh"

makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$build/$name-setup.exe" \
    "$here/packaging/windows/installer.nsi" >&2
rm -f "$build/$name-portable.zip"
(cd "$build/package" && zip -qr "$build/$name-portable.zip" "$name")
echo "$build/$name-setup.exe"
