#!/usr/bin/env bash
# Builds Vorland for Windows on Debian, with MinGW-w64, for 64-bit and 32-bit
# Windows, and tests it under Wine: for each, the Windows SDK (Qt, libpng,
# libsquish from Debian's sources) once, into a cache outside the checkout;
# then the programs, the test suite under Wine, and two packages: a ZIP that
# runs where it is unpacked and an installer. The 32-bit programs run only
# where Wine runs 32-bit programs (Debian's wine32, on a system that runs
# 32-bit code); elsewhere they are built, packed and checked without running
# (scripts/check-pe.sh).
#   VORLAND_WIN_SDK   where the SDK is built and kept, with --arch
#                     (default: ~/.cache/vorland/sdk-<triplet>)
#   WIN_BUILD_DIR     build folder (default: build-windows; the 32-bit build's
#                     has 32 after it)
#   --arch A          x86-64 or i686 alone (VORLAND_TRIPLET does the same)
#   --sdk-only        build the SDKs and stop
#   --no-tests        build and package without running the tests
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh

sdk_only=false tests=true
triplets=(x86_64-w64-mingw32 i686-w64-mingw32)
[ -n "${VORLAND_TRIPLET:-}" ] && triplets=("$VORLAND_TRIPLET")
while [ $# -gt 0 ]; do
    case $1 in
    --sdk-only) sdk_only=true ;;
    --no-tests) tests=false ;;
    --arch)
        shift
        case ${1:-} in
        x86-64 | x86_64) triplets=(x86_64-w64-mingw32) ;;
        i686) triplets=(i686-w64-mingw32) ;;
        *) echo "windows.sh: --arch takes x86-64 or i686" >&2; exit 2 ;;
        esac
        ;;
    *) echo "usage: scripts/windows.sh [--arch x86-64|i686] [--sdk-only] [--no-tests]" >&2; exit 2 ;;
    esac
    shift
done

if [ -n "${VORLAND_WIN_SDK:-}" ] && [ ${#triplets[@]} -gt 1 ]; then
    echo "windows.sh: VORLAND_WIN_SDK names one SDK; choose its build with --arch" >&2
    exit 2
fi

packages=(libz-mingw-w64-dev dpkg-dev perl python3 wine wine64 nsis zip xvfb xauth xdotool
    imagemagick fonts-dejavu-core)
for triplet in "${triplets[@]}"; do
    arch=${triplet%%-*}
    packages+=("g++-mingw-w64-${arch/_/-}-posix" "gcc-mingw-w64-${arch/_/-}-posix")
done
vorland_install_packages "${packages[@]}"
version=$(sed -n 's/^project(Vorland VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

# True when Wine runs this target's programs here: 64-bit ones always, 32-bit
# ones where 32-bit Wine is installed and the system runs it.
runs_here() {
    [ "$arch" = x86-64 ] || /usr/lib/wine/wine --version >/dev/null 2>&1
}

# The programs that the build runs (the demo and seed writers), built for
# this system, for a build whose own programs cannot run here.
host_helpers() {
    local helpers=build-windows-helpers
    cmake -S . -B "$helpers" -DCMAKE_BUILD_TYPE=Release -DVORLAND_BUILD_TESTS=OFF \
        -DVORLAND_BUILD_BENCH=OFF >/dev/null
    cmake --build "$helpers" -j"$(nproc)" --target makedemo makeseeds >/dev/null
    echo "$PWD/$helpers/bin"
}

build_one() {
    arch=${triplet%%-*}
    arch=${arch/_/-}
    sdk=${VORLAND_WIN_SDK:-${XDG_CACHE_HOME:-$HOME/.cache}/vorland/sdk-$triplet}
    build=${WIN_BUILD_DIR:-build-windows}
    [ "$arch" = i686 ] && build=${build}32
    mkdir -p "$sdk"
    sdk=$(cd "$sdk" && pwd)
    source scripts/windows-sdk.sh
    start=$SECONDS
    vorland_sdk_build
    echo "== Windows SDK for $triplet ready in $sdk ($((SECONDS - start)) s)"
    $sdk_only && return 0

    helpers=""
    runs_here || helpers=$(host_helpers)
    cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
        -DVORLAND_TRIPLET="$triplet" -DVORLAND_WIN_SDK="$sdk" -DCMAKE_BUILD_TYPE=Release \
        -DVORLAND_BUILD_TESTS=ON -DVORLAND_BUILD_BENCH=OFF -DVORLAND_HELPERS="$helpers"
    # Wine in a prefix of our own, quiet, without asking to install .NET or a
    # browser engine: the build runs the demo and seed writers in it.
    mkdir -p "$build"
    export WINEPREFIX="$PWD/$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    if runs_here; then
        [ -d "$WINEPREFIX" ] || wineboot --init >/dev/null 2>&1
        # One server for every Wine process of this run, started here apart from
        # them: a server that a test started would hold that test's output open.
        wineserver -p >/dev/null 2>&1 </dev/null || true # (one may run already)
        wineboot >/dev/null 2>&1 </dev/null # and Wine's own services, for the same reason
        trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
    fi
    cmake --build "$build" -j"$(nproc)"
    if $tests && ! runs_here; then
        echo "== the $arch tests need 32-bit Wine, which this system does not run: not run"
    elif $tests; then
        xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir "$build" --output-on-failure \
            -j"$(nproc)"
    fi

    # The packages, from one staged tree.
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
    scripts/check-pe.sh "$triplet" "$stage"
    if ! runs_here; then
        echo "== $build/$name.zip ($(du -h "$build/$name.zip" | cut -f1)), not tried: no 32-bit Wine"
        echo "== $build/$name-setup.exe ($(du -h "$build/$name-setup.exe" | cut -f1)), not tried"
        return 0
    fi

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
    temp=$(winepath -u "$(wine cmd /c echo %TEMP% | tr -d '\r')")
    # What the user has before: the uninstaller puts back just that.
    before() {
        wine reg query 'HKCU\Environment' /v Path 2>/dev/null | tr -d '\r' | grep -i 'Path' || true
        [ -d "$profile/AppData/Local/Programs" ] && echo "Programs folder"
        find "$temp" -maxdepth 1 -name '~nsu*' 2>/dev/null | sort
}
had=$(before)
# Installed twice, the second time over the first, as an update is.
wine "$PWD/$build/$name-setup.exe" /S /PATH
wine "$PWD/$build/$name-setup.exe" /S /PATH
[ -f "$installed/vorland.exe" ] && [ -f "$installed/imageformats/vorland_tpi.dll" ] &&
    [ -f "$shortcut" ] &&
    [[ $(wine reg query 'HKCU\Software\Classes\.big') == *Vorland.Archive* ]] &&
    [[ $(wine reg query 'HKCU\Environment' /v Path) == *"$(winepath -w "$installed")"* ]] ||
    { echo "windows.sh: the installer did not install" >&2; exit 1; }
wine "$installed/uninstall.exe" /S
# The uninstaller goes on as a copy of itself, whose folder goes last.
for _ in $(seq 100); do
    [ -e "$installed" ] || [ "$(before)" != "$had" ] || break
    sleep 0.2
done
if [ -e "$installed" ] || [ -e "$shortcut" ] || wine reg query 'HKCU\Software\Classes\.big' >/dev/null 2>&1 ||
    wine reg query 'HKCU\Software\Vorland' >/dev/null 2>&1 || [ "$(before)" != "$had" ]; then
    echo "windows.sh: the uninstaller left something behind" >&2
    find "$installed" >&2 2>/dev/null || true
    diff <(echo "$had") <(before) >&2 || true
    exit 1
fi
echo "== the ZIP runs where it is unpacked; the installer installs and its uninstaller removes it"
echo "== $build/$name.zip ($(du -h "$build/$name.zip" | cut -f1))"
echo "== $build/$name-setup.exe ($(du -h "$build/$name-setup.exe" | cut -f1))"
wineserver -k >/dev/null 2>&1 || true
}

for triplet in "${triplets[@]}"; do
    build_one
done
