#!/usr/bin/env bash
# Renders the icon's PNG sizes and the Windows .ico from data/icons/quorvel.svg, the one
# drawing they all come from. Run it after changing the drawing and commit what it writes.
set -euo pipefail
cd "$(dirname "$0")/../data/icons"
sizes=(16 24 32 48 64 128 256)
mkdir -p png
for s in "${sizes[@]}"; do
  rsvg-convert -w "$s" -h "$s" quorvel.svg -o "png/quorvel-$s.png"
done
# Sizes up to 128 as bitmaps, 256 as an embedded PNG (as Windows expects for that size).
icotool -c -o quorvel.ico $(for s in "${sizes[@]:0:6}"; do echo "png/quorvel-$s.png"; done) \
        -r png/quorvel-256.png
echo "render-icons: wrote data/icons/png/quorvel-N.png for N in ${sizes[*]}, and data/icons/quorvel.ico"
