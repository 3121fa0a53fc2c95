#!/usr/bin/env bash
# Renders the application icon with the program's own renderer at 256 x 256,
# scales it down to 48 x 48 (averaging, so the small icon does not alias) and
# stores both as PNG in resources/desktop. Needs g++ and
# ImageMagick; the PNG files are committed, so building does not need this.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
g++ -std=c++20 -O2 -ffp-contract=off -I"$root" "$root/scripts/render_icon.cpp" \
  "$root"/noise/*.cpp "$root"/image/*.cpp -o "$work/render_icon"
"$work/render_icon" 256 "$work/icon.bmp"
convert "$work/icon.bmp" -strip "PNG24:$root/resources/desktop/velmora-256.png"
convert "$work/icon.bmp" -filter Box -resize 48x48 -strip "PNG24:$root/resources/desktop/velmora-48.png"
