#!/usr/bin/env bash
# Renders the program's SVG icon into the PNG sizes of the hicolor icon theme, beside it in
# app/resources/icons/SIZE/. Run after changing the SVG; the PNGs are committed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
id=com.morvanedata.Kavrel
svg="$root/app/resources/$id.svg"
command -v rsvg-convert >/dev/null || { echo "make-icons: needs rsvg-convert (librsvg2-bin)" >&2; exit 1; }
for size in 16 22 24 32 48 64 128 256; do
    mkdir -p "$root/app/resources/icons/$size"
    rsvg-convert -w "$size" -h "$size" -o "$root/app/resources/icons/$size/$id.png" "$svg"
done
