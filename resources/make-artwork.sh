#!/usr/bin/env bash
# Regenerates the pictures from their sources: toolbar and application icons and the drag pointer from the
# hand-drawn SVGs (rsvg-convert, ImageMagick), and badxml.jpg from help/badxml-source.xml as headless Chromium
# shows it. The results are committed, so a normal build needs none of these tools.
# Needs: librsvg2-bin, imagemagick, and for --help-picture: chromium.
set -euo pipefail
cd "$(dirname "$0")"

for svg in icons/svg/*.svg; do
    name=$(basename "$svg" .svg)
    if [ "$name" = corvanta ]; then
        rsvg-convert -w 256 -h 256 "$svg" -o icons/corvanta.png
        rsvg-convert -w 48 -h 48 "$svg" -o icons/corvanta-48.png
    else
        rsvg-convert -w 48 -h 48 "$svg" -o "icons/$name.png"
    fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rsvg-convert -w 32 -h 32 cursor/drag.svg -o "$work/drag.png"
convert "$work/drag.png" -define icon:auto-resize=32 drag.ico

if [ "${1:-}" = --help-picture ]; then
    # The page must come from a file URL so that the browser shows its own XML error page.
    cp help/badxml-source.xml "$work/teashop-order.xml"
    chromium --headless --no-sandbox --disable-gpu --disable-background-networking --no-first-run \
        --disable-component-update --disable-sync --user-data-dir="$work/profile" --hide-scrollbars \
        --window-size=760,210 --screenshot="$work/shot.png" "file://$work/teashop-order.xml" >/dev/null 2>&1
    convert "$work/shot.png" -bordercolor '#9AA5B1' -border 1 -quality 90 -sampling-factor 4:4:4 -strip badxml.jpg
fi
