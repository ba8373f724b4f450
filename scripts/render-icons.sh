#!/usr/bin/env bash
# Renders the program icon's PNG sizes from its SVG. The PNGs are committed, so a build
# needs no converter; run this only after changing the SVG (needs rsvg-convert, Debian
# package librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../resources/icons"
for size in 16 24 32 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" org.example.mirka.svg -o "mirka-$size.png"
done
