#!/usr/bin/env python3
"""Converts the 32-bit BMP screenshots lab_run takes into PNG files for the README.

    bmp_to_png.py INPUT.bmp OUTPUT.png
"""
import struct
import sys
import zlib


def read_bmp(path):
    data = open(path, "rb").read()
    if data[:2] != b"BM":
        raise ValueError(f"{path}: not a BMP file")
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    if bits != 32:
        raise ValueError(f"{path}: {bits}-bit BMP, expected 32-bit")
    top_down = height < 0
    height = abs(height)
    rows = []
    for y in range(height):
        start = offset + y * width * 4
        row = bytearray()
        for x in range(width):
            b, g, r = data[start + 4 * x : start + 4 * x + 3]
            row += bytes((r, g, b))
        rows.append(bytes(row))
    if not top_down:
        rows.reverse()
    return width, height, rows


def write_png(path, width, height, rows):
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    raw = b"".join(b"\x00" + row for row in rows)
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                  chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    write_png(sys.argv[2], *read_bmp(sys.argv[1]))
