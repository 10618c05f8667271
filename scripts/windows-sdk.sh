#!/usr/bin/env bash
# Builds the Windows SDK that the cross build of Vorland links against: Qt
# (Core, Gui, Widgets, Test), libpng and libsquish, from Debian's own source
# packages, for MinGW-w64. Sourced by scripts/windows.sh, which sets
#   sdk       the folder to build into (reused when it is complete)
#   triplet   the MinGW-w64 target, e.g. x86_64-w64-mingw32
# The sources come through a private apt configuration inside the cache,
# made from the machine's own package sources, which are left alone.

vorland_sdk_stamp="$sdk/.complete-qt5.15-png-squish-1"
# The source packages, fetched once for every target, beside the SDKs.
vorland_sdk_src="$sdk/../src"

# The machine's own package sources, as source-package entries, into a
# private apt configuration in DIR: every "deb" line of its one-line lists
# and every stanza of its deb822 files whose types include "deb". The
# machine's configuration is only read.
vorland_sdk_sources() { # DIR
    local dir=$1 list="" parts="" file
    eval "$(apt-config shell list Dir::Etc::SourceList/f parts Dir::Etc::SourceParts/d)"
    mkdir -p "$dir/parts"
    rm -f "$dir/parts/"* "$dir/sources.list"
    : >"$dir/sources.list"
    for file in "$list" "${parts%/}"/*.list; do
        [ -f "$file" ] && sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$file" >>"$dir/sources.list"
    done
    for file in "${parts%/}"/*.sources; do
        [ -f "$file" ] || continue
        awk '/^Types:/ { for (i = 2; i <= NF; ++i) if ($i == "deb") { print "Types: deb-src"; next } }
             { print }' "$file" >"$dir/parts/$(basename "$file")"
    done
}

# What nothing of ours touches, switched off so that Qt builds in less time:
# modules (Network, Sql, Xml, Concurrent, PrintSupport, Vulkan), and the
# widgets, dialogs and writers that no window of ours shows.
vorland_sdk_qt_unused=(
    -no-feature-network -no-feature-sql -no-feature-xml -no-feature-concurrent
    -no-feature-printer -no-feature-vulkan -no-feature-tabletevent -no-feature-pdf
    -no-feature-textodfwriter -no-feature-movie -no-feature-sessionmanager
    -no-feature-systemtrayicon -no-feature-statemachine -no-feature-whatsthis
    -no-feature-imageformat_ppm -no-feature-imageformat_xbm
    -no-feature-graphicsview -no-feature-graphicseffect -no-feature-mdiarea
    -no-feature-calendarwidget -no-feature-datetimeedit -no-feature-colordialog
    -no-feature-fontdialog -no-feature-wizard -no-feature-undocommand
    -no-feature-undostack -no-feature-undogroup -no-feature-undoview -no-feature-dial
    -no-feature-lcdnumber -no-feature-keysequenceedit -no-feature-fontcombobox
    -no-feature-columnview
)

vorland_sdk_fetch() {
    local apt="$sdk/../apt"
    mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$vorland_sdk_src"
    vorland_sdk_sources "$apt"
    local options=(-o "Dir::Etc::SourceList=$apt/sources.list" -o "Dir::Etc::SourceParts=$apt/parts"
        -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o "APT::Sandbox::User=root" -qq)
    # An index that fails to refresh (a mirror in sync) is tried once more,
    # then the lists there are serve; only packages that cannot be had fail.
    apt-get "${options[@]}" update || apt-get "${options[@]}" update ||
        echo "windows.sh: warning: some package indexes could not be refreshed" >&2
    (cd "$vorland_sdk_src" && for package in qtbase-opensource-src libpng1.6 libsquish; do
        ls -d "$package"-*/ >/dev/null 2>&1 || vorland_sdk_source "$package" || {
            echo "windows.sh: cannot fetch the source package $package" >&2
            return 1
        }
    done)
}

# Fetches the source package PACKAGE: the newest version, or, since a mirror
# may list a version whose files it does not hold yet, the newest of the
# others that it does.
vorland_sdk_source() { # PACKAGE (uses the caller's apt options)
    local package=$1 version
    apt-get "${options[@]}" source "$package" >/dev/null 2>&1 && return 0
    for version in $(apt-cache "${options[@]}" showsrc "$package" | sed -n 's/^Version: //p' |
        sort -u -V -r); do
        if apt-get "${options[@]}" source "$package=$version" >/dev/null 2>&1; then
            echo "windows.sh: warning: $package fetched at $version, the newest the mirror holds" >&2
            return 0
        fi
    done
    return 1
}

vorland_sdk_cmake() { # SOURCE BUILD [cmake options...]
    local source=$1 build=$2
    shift 2
    cmake -S "$source" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
        -DVORLAND_TRIPLET="$triplet" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$sdk" \
        -DVORLAND_WIN_SDK="$sdk" -Wno-dev "$@" >/dev/null
    cmake --build "$build" -j"$(nproc)" >/dev/null
    cmake --install "$build" >/dev/null
}

vorland_sdk_build() {
    [ -f "$vorland_sdk_stamp" ] && return 0
    echo "== Building the Windows SDK in $sdk (once; Qt takes about 20 minutes on two cores)"
    vorland_sdk_fetch
    local src="$vorland_sdk_src" work="$sdk/work"
    mkdir -p "$work"

    # zlib comes from Debian's MinGW package; libpng as a DLL, libsquish linked in.
    vorland_sdk_cmake "$(ls -d "$src"/libpng1.6-*/)" "$work/png" -DPNG_SHARED=ON -DPNG_STATIC=OFF \
        -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF -DZLIB_ROOT="/usr/$triplet"
    vorland_sdk_cmake "$(ls -d "$src"/libsquish-*/)" "$work/squish" -DBUILD_SHARED_LIBS=OFF \
        -DBUILD_SQUISH_WITH_OPENMP=OFF -DBUILD_SQUISH_WITH_SSE2=ON -DBUILD_SQUISH_EXTRA=OFF

    local qt
    qt=$(ls -d "$src"/qtbase-opensource-src-*/)
    rm -rf "$work/qt" && mkdir -p "$work/qt"
    (cd "$work/qt" && "$qt/configure" -prefix "$sdk" -opensource -confirm-license \
        -xplatform win32-g++ -device-option CROSS_COMPILE="$triplet"- -release -shared \
        -nomake examples -nomake tests -no-opengl -no-dbus -qt-zlib -qt-libpng -qt-libjpeg \
        -qt-freetype -qt-pcre -qt-harfbuzz -no-icu -no-fontconfig -no-direct2d \
        "${vorland_sdk_qt_unused[@]}" >"$work/qt-configure.log" 2>&1 &&
        make -j"$(nproc)" >"$work/qt-make.log" 2>&1 && make install >/dev/null 2>&1) || {
        echo "windows.sh: building Qt failed; see $work/qt-*.log" >&2
        return 1
    }
    rm -rf "$work"
    touch "$vorland_sdk_stamp"
}
