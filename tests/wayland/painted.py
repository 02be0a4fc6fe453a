#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Whether the window in a screenshot of the compositor's output is drawn.

painted.py SHOT.png
The window is what differs from the plain background (the colour of the
corner). Fails unless it is 1200x700, its own background is not of one
colour, and each card on the home page holds a picture rather than a blank.
"""
import subprocess
import sys

import numpy


def rgb(path):
    data = subprocess.run(["convert", path, "-depth", "8", "ppm:-"], check=True, capture_output=True).stdout
    header = data.split(b"\n", 3)
    width, height = map(int, header[1].split())
    return numpy.frombuffer(header[3], dtype=numpy.uint8)[: width * height * 3].reshape(height, width, 3).astype(int)


def blank(region):
    # The share of the region in its commonest colour.
    colours, counts = numpy.unique(region.reshape(-1, 3), axis=0, return_counts=True)
    return counts.max() / counts.sum()


def main():
    shot = rgb(sys.argv[1])
    drawn = numpy.any(shot != shot[0, 0], axis=2)
    rows, columns = numpy.nonzero(drawn)
    if not len(rows):
        sys.exit("FAULT: nothing but the background")
    top, bottom, left, right = rows.min(), rows.max() + 1, columns.min(), columns.max() + 1
    print(f"window at {left},{top}, {right - left}x{bottom - top}")
    faults = 0
    if abs(right - left - 1200) > 1 or abs(bottom - top - 700) > 1:
        print("FAULT: the window is not 1200x700")
        faults += 1
    window = shot[top:bottom, left:right]
    spread = float(window.std())
    print(f"spread of the window's colours: {spread:.1f}")
    if spread < 20:
        print("FAULT: the window is of one colour")
        faults += 1
    for name, x in (("mouse", 83), ("keyboard", 635)):
        share = blank(window[154:590, x:x + 494])
        print(f"{name} card: {share:.0%} in one colour")
        if share > 0.9:
            print(f"FAULT: the {name} card is blank")
            faults += 1
    sys.exit(1 if faults else 0)


if __name__ == "__main__":
    main()
