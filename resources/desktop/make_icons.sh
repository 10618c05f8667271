#!/usr/bin/env bash
# Renders the two SVG icons to the PNG sizes of the hicolor theme. The PNGs
# beside this script are its output, checked in so that the build needs no
# SVG renderer: run it again after changing an SVG (needs librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/icons"
for size in 16 22 24 32 48 64 128 256; do
    mkdir -p "$size"
    for icon in org.vorland.Vorland application-x-vorland-big image-x-vorland-tpi; do
        rsvg-convert -w "$size" -h "$size" "$icon.svg" -o "$size/$icon.png"
    done
done

# Windows icons (program, .big and .tpi files) hold the same PNGs in one .ico
# (needs imagemagick).
for icon in org.vorland.Vorland application-x-vorland-big image-x-vorland-tpi; do
    convert 16/$icon.png 24/$icon.png 32/$icon.png 48/$icon.png 64/$icon.png 256/$icon.png \
        ../../windows/$icon.ico
done
