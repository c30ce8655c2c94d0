#!/usr/bin/env python3
"""Turns an X window dump (from `xwd`) of a TrueColor screen into a PNG.
Standard library only. Usage: xwd2png.py in.xwd out.png [x y w h]"""
import struct
import sys
import zlib


def read_xwd(data):
    fields = struct.unpack(">25I", data[:100])
    header_size, _version, fmt, _depth, width, height = fields[:6]
    byte_order, bpp, bytes_per_line = fields[7], fields[11], fields[12]
    red_mask, green_mask, blue_mask = fields[14], fields[15], fields[16]
    ncolors = fields[19]
    if fmt != 2 or bpp not in (24, 32):
        raise SystemExit("only 24/32-bit ZPixmap dumps are supported")
    offset = header_size + ncolors * 12
    step = bpp // 8
    order = "<" if byte_order == 0 else ">"

    def channel(value, mask):
        shift = (mask & -mask).bit_length() - 1
        return (value & mask) >> shift

    rows = []
    for y in range(height):
        line = data[offset + y * bytes_per_line: offset + y * bytes_per_line + width * step]
        row = bytearray()
        for x in range(width):
            raw = line[x * step:(x + 1) * step]
            v = int.from_bytes(raw, "little" if order == "<" else "big")
            row += bytes((channel(v, red_mask), channel(v, green_mask), channel(v, blue_mask)))
        rows.append(bytes(row))
    return width, height, rows


def write_png(path, width, height, rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + r for r in rows)
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def main():
    with open(sys.argv[1], "rb") as f:
        width, height, rows = read_xwd(f.read())
    if len(sys.argv) == 7:
        x, y, w, h = (int(v) for v in sys.argv[3:7])
        x, y = max(0, x), max(0, y)
        w, h = min(w, width - x), min(h, height - y)
        rows = [r[x * 3:(x + w) * 3] for r in rows[y:y + h]]
        width, height = w, h
    write_png(sys.argv[2], width, height, rows)


if __name__ == "__main__":
    main()
