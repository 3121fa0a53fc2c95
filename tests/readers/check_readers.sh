#!/usr/bin/env bash
# Decodes the sample files with two independent readers, Pillow and
# ImageMagick, and compares their pixels with what the writer meant. An
# emulator after the writer runs a writer built for another processor.
#
# Usage: check_readers.sh WRITER [EMULATOR [ARGUMENT...]]
set -euo pipefail
writer=$1
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$@" "$writer" "$work"

failures=0
for bmp in "$work"/*.bmp; do
  name=$(basename "$bmp" .bmp)
  want="$work/$name.rgb"
  /usr/bin/python3 -c '
import sys
from PIL import Image
with Image.open(sys.argv[1]) as image:
    sys.stdout.buffer.write(image.convert("RGB").tobytes())
' "$bmp" > "$work/$name.pillow"
  convert "$bmp" -depth 8 "rgb:$work/$name.magick"
  for reader in pillow magick; do
    if cmp -s "$want" "$work/$name.$reader"; then
      echo "ok: $reader decodes $name.bmp"
    else
      echo "FAIL: $reader decodes $name.bmp to other pixels"
      failures=$((failures + 1))
    fi
  done
done
[ "$failures" -eq 0 ]
