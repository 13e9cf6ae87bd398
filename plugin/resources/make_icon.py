#!/usr/bin/env python3
"""Writes ID_BMP_RUI.bmp, the plug-in's icon: 32 x 32 pixels, 32 bits per pixel, uncompressed.

A dark tile with three linked nodes (a server and two clients). Run it again after changing
the drawing; the committed bitmap is what the build compiles in.
"""
import math
import struct
from pathlib import Path

SIZE = 32
BACKGROUND = (0x2E, 0x2E, 0x2E)
LINK = (0x82, 0xBF, 0xF2)
NODE = (0xFF, 0xFF, 0xFF)
NODES = [(16, 9), (8, 23), (24, 23)]


def distance_to_segment(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / float(dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def pixel(x, y):
    cx, cy = x + 0.5, y + 0.5
    if any(math.hypot(cx - nx, cy - ny) <= 4.0 for nx, ny in NODES):
        return NODE
    links = [(NODES[0], NODES[1]), (NODES[0], NODES[2]), (NODES[1], NODES[2])]
    if any(distance_to_segment(cx, cy, a[0], a[1], b[0], b[1]) <= 1.2 for a, b in links):
        return LINK
    return BACKGROUND


def main():
    rows = []
    for y in reversed(range(SIZE)):  # bottom-up rows
        row = b"".join(struct.pack("<BBBB", b, g, r, 0xFF)
                       for r, g, b in (pixel(x, y) for x in range(SIZE)))
        rows.append(row)
    pixels = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, 32, 0, len(pixels), 2835, 2835, 0, 0)
    offset = 14 + len(info)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    Path(__file__).with_name("ID_BMP_RUI.bmp").write_bytes(header + info + pixels)


if __name__ == "__main__":
    main()
