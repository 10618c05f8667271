#!/usr/bin/env bash
# Builds the Debian package and checks it: lintian, the desktop entry and
# AppStream validators, then the package unpacked into a scratch root, where
# the installed vorland-cli reads the demo archive and the installed vorland
# starts under the offscreen platform.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
vorland_install_packages dpkg-dev lintian desktop-file-utils appstream
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
QT_QPA_PLATFORM=offscreen timeout 5 "$root/usr/bin/vorland" || status=$?
if [ "$status" -ne 124 ]; then
    echo "the installed vorland stopped with status $status instead of running"
    exit 1
fi
echo "== the installed programs run"
