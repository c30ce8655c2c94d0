#!/usr/bin/env python3
"""Draws the program's 48 x 48 icon (a blue disc with a white downward arrow)
and writes it as a 32-bit .ico file. Standard library only."""
import math
import struct
import sys

SIZE = 48


def pixel(x, y):
    """Colour (b, g, r, a) of one pixel, with a soft anti-aliased edge."""
    cx = cy = (SIZE - 1) / 2.0
    d = math.hypot(x - cx, y - cy)
    radius = SIZE / 2.0 - 1.5
    cover = max(0.0, min(1.0, radius - d + 0.5))
    if cover <= 0:
        return (0, 0, 0, 0)
    t = y / (SIZE - 1)
    r, g, b = int(40 + 20 * t), int(150 - 60 * t), int(230 - 70 * t)
    if in_arrow(x - cx, y - cy):
        r = g = b = 255
    return (b, g, r, int(255 * cover))


def in_arrow(dx, dy):
    if -4 <= dx <= 4 and -14 <= dy <= 2:
        return True  # the shaft
    if 2 <= dy <= 14 and abs(dx) <= (14 - dy):
        return True  # the head
    return dy >= 15 and dy <= 17 and abs(dx) <= 12  # the base line


def build_ico():
    rows = []
    for y in range(SIZE - 1, -1, -1):  # bottom-up, as DIBs are stored
        rows.append(b"".join(struct.pack("BBBB", *pixel(x, y)) for x in range(SIZE)))
    xor = b"".join(rows)
    and_mask = b"\x00" * (((SIZE + 31) // 32) * 4 * SIZE)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    image = header + xor + and_mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 22)
    return directory + image


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as f:
        f.write(build_ico())
