#!/usr/bin/env bash
# Renders the icon's PNG sizes (for menus that want bitmaps) and the
# Windows .ico from larkspan.svg. Run after changing the SVG; the results
# are kept in the repository so the build needs neither tool.
# Needs librsvg2-bin and imagemagick.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 24 32 48 64 128 256; do
  rsvg-convert -w $size -h $size larkspan.svg -o larkspan-$size.png
done
convert larkspan-16.png larkspan-24.png larkspan-32.png larkspan-48.png larkspan-256.png larkspan.ico
