#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Packs PNG images into a Windows .ico: Explorer, the task bar and the title bar each take
the size they need. PNG entries are read by every Windows since Vista.

    make_ico.py --out bondara.ico 16.png 32.png ... 256.png
"""
import argparse
import struct
import sys


def png_size(data, name):
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        sys.exit(f"make_ico: {name} is not a PNG")
    return struct.unpack(">II", data[16:24])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    parser.add_argument("pngs", nargs="+")
    args = parser.parse_args()

    images = []
    for name in args.pngs:
        with open(name, "rb") as f:
            data = f.read()
        width, height = png_size(data, name)
        if width > 256 or height > 256:
            sys.exit(f"make_ico: {name} is {width}x{height}; an icon holds 256x256 at most")
        images.append((width, height, data))
    images.sort(key=lambda image: image[0])

    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    directory = b""
    for width, height, data in images:
        # 256 is written as 0 in the one-byte size fields.
        directory += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(args.out, "wb") as f:
        f.write(header + directory + b"".join(image[2] for image in images))


if __name__ == "__main__":
    main()
