#!/usr/bin/env bash
# Builds Vorland for Windows on Debian, with MinGW-w64, and tests it under
# Wine: the Windows SDK (Qt, libpng, libsquish from Debian's sources) once,
# into a cache outside the checkout; then the programs, the whole test suite
# under Wine, and two packages: a ZIP that runs where it is unpacked and an
# installer.
#   VORLAND_WIN_SDK   where the SDK is built and kept
#                     (default: ~/.cache/vorland/sdk-<triplet>)
#   VORLAND_TRIPLET   x86_64-w64-mingw32 (default) or i686-w64-mingw32
#   WIN_BUILD_DIR     build folder (default: build-windows)
#   --sdk-only        build the SDK and stop
#   --no-tests        build and package without running the tests
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh

sdk_only=false tests=true
for argument in "$@"; do
    case $argument in
    --sdk-only) sdk_only=true ;;
    --no-tests) tests=false ;;
    *) echo "usage: scripts/windows.sh [--sdk-only] [--no-tests]" >&2; exit 2 ;;
    esac
done

triplet=${VORLAND_TRIPLET:-x86_64-w64-mingw32}
arch=${triplet%%-*}
arch=${arch/_/-}
sdk=${VORLAND_WIN_SDK:-${XDG_CACHE_HOME:-$HOME/.cache}/vorland/sdk-$triplet}
build=${WIN_BUILD_DIR:-build-windows}
vorland_install_packages "g++-mingw-w64-$arch-posix" "gcc-mingw-w64-$arch-posix" \
    libz-mingw-w64-dev dpkg-dev perl python3 wine wine64 nsis zip xvfb xauth xdotool imagemagick \
    fonts-dejavu-core

mkdir -p "$sdk"
sdk=$(cd "$sdk" && pwd)
source scripts/windows-sdk.sh
start=$SECONDS
vorland_sdk_build
echo "== Windows SDK ready in $sdk ($((SECONDS - start)) s)"
$sdk_only && exit 0

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
    -DVORLAND_TRIPLET="$triplet" -DVORLAND_WIN_SDK="$sdk" -DCMAKE_BUILD_TYPE=Release \
    -DVORLAND_BUILD_TESTS=ON -DVORLAND_BUILD_BENCH=OFF
# Wine in a prefix of our own, quiet, without asking to install .NET or a
# browser engine: the build runs the demo and seed writers in it.
mkdir -p "$build"
export WINEPREFIX="$PWD/$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -d "$WINEPREFIX" ] || wineboot --init >/dev/null 2>&1
# One server for every Wine process of this run, started here apart from
# them: a server that a test started would hold that test's output open.
wineserver -p >/dev/null 2>&1 </dev/null || true # (one may run already)
wineboot >/dev/null 2>&1 </dev/null # and Wine's own services, for the same reason
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
cmake --build "$build" -j"$(nproc)"
if $tests; then
    xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir "$build" --output-on-failure \
        -j"$(nproc)"
fi

# The packages, from one staged tree.
version=$(sed -n 's/^project(Vorland VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name="vorland-$version-${arch/x86-64/win64}"
[ "$arch" = i686 ] && name="vorland-$version-win32"
stage="$build/stage/$name"
rm -rf "$build/stage" && cmake --install "$build" --prefix "$stage" --strip >/dev/null
(cd "$build/stage" && rm -f "../$name.zip" && zip -q -r -9 "../$name.zip" "$name")
# The installer's file lists, made from the staged tree so that the
# uninstaller removes exactly those files and folders.
lists="$PWD/$build/stage/files"
(cd "$stage" && find . -type f | sort | while read -r file; do
    file=${file#./}
    folder=$(dirname "$file")
    [ "$folder" = . ] && folder="" || folder="\\${folder//\//\\}"
    printf 'SetOutPath "$INSTDIR%s"\nFile "%s"\n' "$folder" "$PWD/$file"
done) >"$lists.install.nsh"
(cd "$stage" && find . -type f | sort | while read -r file; do
    file=${file#./}
    printf 'Delete "$INSTDIR\\%s"\n' "${file//\//\\}"
done && find . -mindepth 1 -type d | sort -r | while read -r folder; do
    folder=${folder#./}
    printf 'RMDir "$INSTDIR\\%s"\n' "${folder//\//\\}"
done) >"$lists.uninstall.nsh"
makensis -V2 -DVERSION="$version" -DARCH="$arch" -DSTAGE="$PWD/$stage" -DFILES="$lists" \
    -DOUTFILE="$PWD/$build/$name-setup.exe" resources/windows/vorland.nsi
chmod +x "$build/$name-setup.exe"

# The packages as a user meets them, in the Wine prefix: the ZIP's programs
# where it is unpacked (GfxCore.dll found beside them, from another working
# folder), then the installer and its uninstaller, silently.
check="$PWD/$build/stage/check"
rm -rf "$check" && mkdir -p "$check" && unzip -q "$build/$name.zip" -d "$check"
unpacked=$(winepath -w "$check/$name")
(cd "$check" && wine "$unpacked\\vorland-cli.exe" compress "$unpacked\\demo.big" packed.big &&
    [[ $(wine "$unpacked\\vorland-cli.exe" info --json packed.big) == *'"compressed": true'* ]] &&
    [[ $(wine "$unpacked\\vorland-cli.exe" mount packed.big mnt 2>&1) == *'not available'* ]]) ||
    { echo "windows.sh: the unpacked ZIP does not work" >&2; exit 1; }
profile="$WINEPREFIX/drive_c/users/$(id -un)"
installed="$profile/AppData/Local/Programs/Vorland"
shortcut="$profile/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Vorland.lnk"
wine "$PWD/$build/$name-setup.exe" /S
[ -f "$installed/vorland.exe" ] && [ -f "$installed/imageformats/vorland_tpi.dll" ] &&
    [ -f "$shortcut" ] &&
    [[ $(wine reg query 'HKCU\Software\Classes\.big') == *Vorland.Archive* ]] ||
    { echo "windows.sh: the installer did not install" >&2; exit 1; }
wine "$installed/uninstall.exe" /S
for _ in $(seq 100); do [ -e "$installed" ] || break; sleep 0.2; done
if [ -e "$installed" ] || [ -e "$shortcut" ] || wine reg query 'HKCU\Software\Classes\.big' >/dev/null 2>&1 ||
    wine reg query 'HKCU\Software\Vorland' >/dev/null 2>&1; then
    echo "windows.sh: the uninstaller left something behind" >&2
    find "$installed" >&2 2>/dev/null || true
    exit 1
fi
echo "== the ZIP runs where it is unpacked; the installer installs and its uninstaller removes it"
echo "== $build/$name.zip ($(du -h "$build/$name.zip" | cut -f1))"
echo "== $build/$name-setup.exe ($(du -h "$build/$name-setup.exe" | cut -f1))"
