#!/bin/sh
# Writes the application icon's PNGs from its SVG, at every size that is
# installed, into data/icons/hicolor/<size>x<size>/apps/. Only changing the
# icon needs this; the build installs the PNGs that are checked in. Needs
# rsvg-convert (Debian package librsvg2-bin).
# Usage: tools/render_icons.sh (from anywhere in the repository)
set -eu
cd "$(dirname "$0")/../data/icons/hicolor"

name=org.example.Mereglass
for size in 16 24 32 48 64 128 256; do
    mkdir -p "${size}x${size}/apps"
    rsvg-convert --width "$size" --height "$size" --output "${size}x${size}/apps/$name.png" \
        "scalable/apps/$name.svg"
    echo "data/icons/hicolor/${size}x${size}/apps/$name.png"
done
