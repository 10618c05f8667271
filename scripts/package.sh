#!/usr/bin/env bash
# Builds the Debian package and checks it: lintian, the desktop entry and
# AppStream validators, then the package unpacked into a scratch root, where
# the installed vorland-cli reads the demo archive, a plain Qt program opens a
# TPI picture through the installed image plug-in, the thumbnailer entry's
# command line makes thumbnails, and the installed vorland starts under the
# offscreen platform.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
vorland_install_packages dpkg-dev lintian desktop-file-utils appstream file
umask 022

build="${PACKAGE_BUILD_DIR:-build-package}"
# Debian's own compiler and linker hardening flags.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DVORLAND_BUILD_TESTS=OFF -DVORLAND_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
(cd "$build" && cpack >/dev/null)
deb=$(ls "$build"/vorland_*.deb)
echo "== $deb"
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'

desktop-file-validate resources/desktop/org.vorland.Vorland.desktop
appstreamcli validate --no-net resources/desktop/org.vorland.Vorland.metainfo.xml
lintian --fail-on error "$deb"

root="$build/scratch-root"
rm -rf "$root"
dpkg -x "$deb" "$root"
# No installed program or library may look for libraries in the working folder.
scripts/check-runpath.sh "$root"
cli="$root/usr/bin/vorland-cli"
"$cli" --help >/dev/null
"$cli" info "$root/usr/share/vorland/demo.big"
"$cli" render "$root/usr/share/vorland/demo.big" 'images\sky.tga' -o "$build/sky.png"
# Compressing needs libGfxCore.so, found through the installed RUNPATH.
"$cli" compress "$root/usr/share/vorland/demo.big" "$build/demo-packed.big"
"$cli" info --json "$build/demo-packed.big" | grep -q '"compressed": true'
status=0
# A plain Qt program, which knows nothing of Vorland, opens a TPI picture
# through the installed plug-in, pixel for pixel as render gives it.
g++ -O2 -fPIC tests/imageplugin/tpiread.cpp -o "$build/tpiread" $(pkg-config --cflags --libs Qt5Gui)
"$cli" convert "$build/sky.png" "$build/sky.tpi" --format DXT5 --tile 64 --compress
"$cli" render "$build/sky.tpi" -o "$build/sky-tpi.png"
plugins=$(ls -d "$root"/usr/lib/*/qt5/plugins)
QT_PLUGIN_PATH="$plugins" QT_QPA_PLATFORM=offscreen "$build/tpiread" "$build/sky.tpi" "$build/sky-tpi.png"
# Thumbnails through the installed entry's own command line.
exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/thumbnailers/vorland.thumbnailer")
for input in "$build/sky.tpi" "$root/usr/share/vorland/demo.big"; do
    line=${exec_line//%s/128}
    line=${line//%i/$input}
    line=${line//%o/$build/thumb.png}
    rm -f "$build/thumb.png"
    # shellcheck disable=SC2086
    PATH="$root/usr/bin:$PATH" $line
    file "$build/thumb.png" | grep -q 'PNG image data'
    echo "thumbnail of $(basename "$input"): $(file -b "$build/thumb.png")"
done
QT_QPA_PLATFORM=offscreen timeout 5 "$root/usr/bin/vorland" || status=$?
if [ "$status" -ne 124 ]; then
    echo "the installed vorland stopped with status $status instead of running"
    exit 1
fi
echo "== the installed programs run"
