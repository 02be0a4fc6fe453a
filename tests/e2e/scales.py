#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Compares screenshots of the window at a scale with the shot at 1 x.

scales.py ONE.png SCALED.png SCALE
Fails when the scaled window, brought back to 1 x, differs in any tile from
the 1 x one (something clipped, moved or missing), or when its guide pictures
are no sharper than the 1 x shot enlarged to the same size (a stretched 1 x
picture).
"""
import subprocess
import sys

import numpy


def grey(path, size=None):
    args = ["convert", path, "-colorspace", "Gray"]
    if size:
        args += ["-filter", "Triangle", "-resize", f"{size[0]}x{size[1]}!"]
    data = subprocess.run(args + ["-depth", "8", "pgm:-"], check=True, capture_output=True).stdout
    header = data.split(b"\n", 3)
    width, height = map(int, header[1].split())
    return numpy.frombuffer(header[3], dtype=numpy.uint8)[: width * height].reshape(height, width).astype(float)


def energy(image):
    return float((numpy.diff(image, axis=0) ** 2).sum() + (numpy.diff(image, axis=1) ** 2).sum())


def main():
    one_path, scaled_path, scale = sys.argv[1], sys.argv[2], float(sys.argv[3])
    one = grey(one_path)
    height, width = one.shape
    scaled = grey(scaled_path)
    if abs(scaled.shape[1] - width * scale) > 1 or abs(scaled.shape[0] - height * scale) > 1:
        sys.exit(f"scaled shot is {scaled.shape[1]}x{scaled.shape[0]}, expected {width * scale}x{height * scale}")
    faults = 0

    # Brought back to 1 x: the same window, tile by tile.
    back = grey(scaled_path, (width, height))
    # Compared by the mean of each tile: glyphs rasterised at another size
    # differ pixel by pixel, but cover the same share of their tile unless cut.
    tile = 20
    worst = (0.0, 0, 0)
    for y in range(0, height - tile + 1, tile):
        for x in range(0, width - tile + 1, tile):
            diff = abs(back[y:y + tile, x:x + tile].mean() - one[y:y + tile, x:x + tile].mean())
            worst = max(worst, (diff, x, y))
    print(f"worst tile at 1 x: {worst[0]:.1f} at {worst[1]},{worst[2]}")
    if worst[0] > 16:
        print(f"FAULT: the tile at {worst[1]},{worst[2]} differs from the 1 x window")
        faults += 1

    # The guide pictures: as sharp as drawn, not the 1 x ones enlarged.
    left, top, right, bottom = 30, 166, 1170, 502
    enlarged = grey(one_path, (round(width * scale), round(height * scale)))
    box = tuple(round(v * scale) for v in (left, top, right, bottom))
    region = scaled[box[1]:box[3], box[0]:box[2]]
    stretched = enlarged[box[1]:box[3], box[0]:box[2]]
    ratio = energy(region) / energy(stretched)
    print(f"edge energy against the 1 x shot enlarged: {ratio:.2f}")
    if ratio < 1.25:
        print("FAULT: the pictures are no sharper than the 1 x ones enlarged")
        faults += 1
    sys.exit(1 if faults else 0)


if __name__ == "__main__":
    main()
