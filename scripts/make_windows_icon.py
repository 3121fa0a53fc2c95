#!/usr/bin/env python3
"""Packs PNG images into a Windows icon file (.ico), one PNG entry per image,
as Windows has read them since Vista: make_windows_icon.py OUT.ico PNG...
Each PNG must be square and at most 256 x 256 pixels."""
import struct
import sys


def png_size(data, name):
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        sys.exit(f"{name} is not a PNG file")
    width, height = struct.unpack(">II", data[16:24])
    if width != height or not 1 <= width <= 256:
        sys.exit(f"{name} is {width}x{height}: an icon entry is square and at most 256 pixels")
    return width


def main():
    if len(sys.argv) < 3:
        sys.exit("usage: make_windows_icon.py OUT.ico PNG...")
    images = []
    for name in sys.argv[2:]:
        with open(name, "rb") as f:
            data = f.read()
        images.append((png_size(data, name), data))
    images.sort(key=lambda image: image[0])
    # ICONDIR, then one 16-byte ICONDIRENTRY per image, then the images.
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        side = size % 256  # 0 stands for 256
        out += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    with open(sys.argv[1], "wb") as f:
        f.write(out)


main()
