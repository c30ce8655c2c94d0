#!/usr/bin/env python3
"""Draws the default skin of the update window from code.

Writes BackGround.bmp, Bar.bmp, Bar2.bmp, Btn1.bmp, Btn2.bmp and Btn3.bmp
(24-bit, uncompressed) into the folder given as the only argument.

The drawing follows the window's fixed layout: status line at y 210, the
current-file bar at (18, 226) and the total bar at (18, 245), both 372 x 16,
the counts line at y 263, percentages from x 340, the close button at
(367, 10). Everything is computed here; no image comes from elsewhere.
Shapes are anti-aliased from their signed distance, so the script needs
nothing but the standard library.
"""

import math
import os
import struct
import sys

WIDTH, HEIGHT = 408, 290
HEADER_HEIGHT = 44
BAR_LEFT, FILE_BAR_TOP, TOTAL_BAR_TOP = 18, 226, 245
BAR_WIDTH, BAR_HEIGHT = 372, 16
BUTTON_X, BUTTON_Y, BUTTON_SIZE = 367, 10, 23
CARD = (10, 200, WIDTH - 10, 282)  # left, top, right, bottom of the progress panel


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def hex_rgb(text):
    return tuple(int(text[i:i + 2], 16) for i in (0, 2, 4))


class Canvas:
    def __init__(self, width, height, fill):
        self.width, self.height = width, height
        self.pixels = [[fill(x, y) for x in range(width)] for y in range(height)]

    def blend(self, x, y, colour, alpha):
        if alpha <= 0 or not (0 <= x < self.width and 0 <= y < self.height):
            return
        alpha = min(alpha, 1.0)
        self.pixels[y][x] = mix(self.pixels[y][x], colour, alpha)

    def shape(self, distance, colour, box, opacity=1.0):
        """Paints where distance(px, py) < 0, with one pixel of soft edge."""
        left, top, right, bottom = (int(v) for v in box)
        for y in range(max(top, 0), min(bottom + 1, self.height)):
            for x in range(max(left, 0), min(right + 1, self.width)):
                d = distance(x + 0.5, y + 0.5)
                self.blend(x, y, colour, opacity * max(0.0, min(1.0, 0.5 - d)))

    def save(self, path):
        row_size = (self.width * 3 + 3) & ~3
        image_size = row_size * self.height
        header = struct.pack("<2sIHHI", b"BM", 54 + image_size, 0, 0, 54)
        info = struct.pack("<IiiHHIIiiII", 40, self.width, self.height, 1, 24, 0,
                           image_size, 2835, 2835, 0, 0)
        rows = []
        for row in reversed(self.pixels):  # BMP rows run bottom-up
            data = bytearray()
            for r, g, b in row:
                data += bytes((clamp8(b), clamp8(g), clamp8(r)))
            data += b"\0" * (row_size - len(data))
            rows.append(bytes(data))
        with open(path, "wb") as f:
            f.write(header + info + b"".join(rows))


def clamp8(v):
    return max(0, min(255, int(round(v))))


# Signed distances (negative inside).
def rounded_box(left, top, right, bottom, radius):
    cx, cy = (left + right) / 2, (top + bottom) / 2
    hx, hy = (right - left) / 2 - radius, (bottom - top) / 2 - radius

    def d(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        outside = math.hypot(max(qx, 0), max(qy, 0))
        return outside + min(max(qx, qy), 0) - radius
    return d


def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def segment(x0, y0, x1, y1, half_width):
    def d(x, y):
        dx, dy = x1 - x0, y1 - y0
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy)))
        return math.hypot(x - x0 - t * dx, y - y0 - t * dy) - half_width
    return d


def arc(cx, cy, r, half_width, start, end):
    """A stroke along the circle from angle start to end (radians, increasing)."""
    def d(x, y):
        a = math.atan2(y - cy, x - cx) % (2 * math.pi)
        if (a - start) % (2 * math.pi) <= (end - start) % (2 * math.pi):
            return abs(math.hypot(x - cx, y - cy) - r) - half_width
        ends = [(cx + r * math.cos(t), cy + r * math.sin(t)) for t in (start, end)]
        return min(math.hypot(x - ex, y - ey) for ex, ey in ends) - half_width
    return d


def triangle(p0, p1, p2):
    pts = (p0, p1, p2)

    def d(x, y):
        best, signs = float("inf"), set()
        for i in range(3):
            (ax, ay), (bx, by) = pts[i], pts[(i + 1) % 3]
            ex, ey = bx - ax, by - ay
            wx, wy = x - ax, y - ay
            t = max(0.0, min(1.0, (wx * ex + wy * ey) / (ex * ex + ey * ey)))
            best = min(best, math.hypot(wx - t * ex, wy - t * ey))
            signs.add(ex * wy - ey * wx > 0)
        # Inside when the point lies on the same side of all three edges.
        return -best if len(signs) == 1 else best
    return d


# Palette: a calm blue-grey face with a deeper header and green/teal bars.
HEADER_TOP, HEADER_BOTTOM = hex_rgb("3b7ea1"), hex_rgb("2c6485")
BODY_TOP, BODY_BOTTOM = hex_rgb("f3f7f9"), hex_rgb("e2eaef")
FRAME = hex_rgb("23506b")
CARD_FILL, CARD_EDGE = hex_rgb("fbfcfd"), hex_rgb("c9d6de")
TRACK_FILL, TRACK_EDGE = hex_rgb("e6ecf0"), hex_rgb("b4c3cc")
EMBLEM, EMBLEM_HALO = hex_rgb("4a93b8"), hex_rgb("d9e7ef")


def face_colour(x, y):
    """The background before any shape: header band over a soft body gradient."""
    if y < HEADER_HEIGHT:
        colour = mix(HEADER_TOP, HEADER_BOTTOM, y / (HEADER_HEIGHT - 1))
        if y == 0:
            colour = mix(colour, (255, 255, 255), 0.15)
        return colour
    if y == HEADER_HEIGHT:
        return hex_rgb("1f4f6a")
    return mix(BODY_TOP, BODY_BOTTOM, (y - HEADER_HEIGHT) / (HEIGHT - HEADER_HEIGHT))


def draw_emblem(canvas, cx, cy):
    """Two chasing arrows on a soft disc: the sign of an update."""
    canvas.shape(circle(cx, cy, 62), EMBLEM_HALO, (cx - 64, cy - 64, cx + 64, cy + 64))
    r, half = 38, 4.5
    for start in (math.radians(200), math.radians(20)):
        end = start + math.radians(125)
        canvas.shape(arc(cx, cy, r, half, start, end), EMBLEM,
                     (cx - 50, cy - 50, cx + 50, cy + 50))
        # Arrow head at the end of the stroke, pointing along the circle.
        ex, ey = cx + r * math.cos(end), cy + r * math.sin(end)
        tx, ty = -math.sin(end), math.cos(end)  # tangent, direction of travel
        nx, ny = math.cos(end), math.sin(end)   # outward normal
        tip = (ex + tx * 13, ey + ty * 13)
        wing1 = (ex + nx * 11, ey + ny * 11)
        wing2 = (ex - nx * 11, ey - ny * 11)
        canvas.shape(triangle(tip, wing1, wing2), EMBLEM,
                     (ex - 20, ey - 20, ex + 20, ey + 20))


def draw_track(canvas, top):
    left, right, bottom = BAR_LEFT, BAR_LEFT + BAR_WIDTH, top + BAR_HEIGHT
    for y in range(top, bottom):
        for x in range(left, right):
            edge = y in (top, bottom - 1) or x in (left, right - 1)
            shade = 1.0 - 0.03 * (1 - (y - top) / BAR_HEIGHT)
            colour = TRACK_EDGE if edge else tuple(c * shade for c in TRACK_FILL)
            canvas.pixels[y][x] = colour


def draw_background(path):
    canvas = Canvas(WIDTH, HEIGHT, face_colour)
    left, top, right, bottom = CARD
    canvas.shape(rounded_box(left, top + 1, right, bottom + 1, 6), hex_rgb("b9c7d0"),
                 (left - 2, top - 2, right + 2, bottom + 3), 0.5)  # faint shadow
    canvas.shape(rounded_box(left, top, right, bottom, 6), CARD_EDGE,
                 (left - 2, top - 2, right + 2, bottom + 2))
    canvas.shape(rounded_box(left + 1, top + 1, right - 1, bottom - 1, 5), CARD_FILL,
                 (left, top, right, bottom))
    draw_track(canvas, FILE_BAR_TOP)
    draw_track(canvas, TOTAL_BAR_TOP)
    draw_emblem(canvas, WIDTH // 2, 122)
    for x in range(WIDTH):  # one-pixel frame: the window has no border of its own
        canvas.pixels[0][x] = canvas.pixels[HEIGHT - 1][x] = FRAME
    for y in range(HEIGHT):
        canvas.pixels[y][0] = canvas.pixels[y][WIDTH - 1] = FRAME
    canvas.save(path)


def draw_bar(path, light, dark):
    """A glossy fill: lighter upper half, darker lower half, darker rim."""
    def fill(x, y):
        if y in (0, BAR_HEIGHT - 1):
            return mix(dark, (0, 0, 0), 0.15)
        t = (y - 1) / (BAR_HEIGHT - 3)
        colour = mix(light, dark, t)
        if y < BAR_HEIGHT // 2:
            colour = mix(colour, (255, 255, 255), 0.25 * (1 - t * 2))
        if x == 0:
            colour = mix(colour, (0, 0, 0), 0.15)
        return colour
    Canvas(BAR_WIDTH, BAR_HEIGHT, fill).save(path)


def draw_button(path, disc, cross, offset, ring=None):
    """The close button over the header band it covers, so it sits seamlessly."""
    canvas = Canvas(BUTTON_SIZE, BUTTON_SIZE, lambda x, y: face_colour(BUTTON_X + x, BUTTON_Y + y))
    c = BUTTON_SIZE / 2
    box = (0, 0, BUTTON_SIZE, BUTTON_SIZE)
    if disc is not None:
        canvas.shape(circle(c, c, 10.5), disc, box)
    if ring is not None:
        canvas.shape(lambda x, y: abs(math.hypot(x - c, y - c) - 10) - 0.6, ring, box)
    a, o = 4.2, offset
    canvas.shape(segment(c - a + o, c - a + o, c + a + o, c + a + o, 1.1), cross, box)
    canvas.shape(segment(c - a + o, c + a + o, c + a + o, c - a + o, 1.1), cross, box)
    canvas.save(path)


def main():
    if len(sys.argv) != 2:
        print("usage: make_skin.py <output folder>", file=sys.stderr)
        return 2
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    draw_background(os.path.join(out, "BackGround.bmp"))
    draw_bar(os.path.join(out, "Bar.bmp"), hex_rgb("8fd48a"), hex_rgb("3f9a47"))
    draw_bar(os.path.join(out, "Bar2.bmp"), hex_rgb("8cc8e8"), hex_rgb("2f7fae"))
    white = (255, 255, 255)
    draw_button(os.path.join(out, "Btn1.bmp"), None, hex_rgb("e4eef4"), 0,
                ring=mix(HEADER_TOP, white, 0.3))
    draw_button(os.path.join(out, "Btn2.bmp"), hex_rgb("d9625a"), white, 0)
    draw_button(os.path.join(out, "Btn3.bmp"), hex_rgb("b4463f"), hex_rgb("f2dcda"), 1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
