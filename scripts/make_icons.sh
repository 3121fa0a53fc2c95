#!/usr/bin/env bash
# Renders the application icon with the program's own renderer at 256 x 256,
# scales it down to 48 x 48 (averaging, so the small icon does not alias) and
# stores both as PNG in resources/desktop; packs them, with 32 x 32 and
# 16 x 16 made the same way, into the Windows program's icon,
# ui_win32/velmora.ico. Needs g++, ImageMagick and Python 3; the files are
# committed, so building does not need this.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
g++ -std=c++20 -O2 -ffp-contract=off -I"$root" "$root/scripts/render_icon.cpp" \
  "$root"/noise/*.cpp "$root"/image/*.cpp -o "$work/render_icon"
"$work/render_icon" 256 "$work/icon.bmp"
convert "$work/icon.bmp" -strip "PNG24:$root/resources/desktop/velmora-256.png"
convert "$work/icon.bmp" -filter Box -resize 48x48 -strip "PNG24:$root/resources/desktop/velmora-48.png"
for size in 16 32; do
  convert "$work/icon.bmp" -filter Box -resize ${size}x${size} -strip "PNG24:$work/velmora-$size.png"
done
python3 "$root/scripts/make_windows_icon.py" "$root/ui_win32/velmora.ico" "$work/velmora-16.png" \
  "$work/velmora-32.png" "$root/resources/desktop/velmora-48.png" "$root/resources/desktop/velmora-256.png"
