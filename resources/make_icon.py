#!/usr/bin/env python3
"""Draws the program's icon and writes it as a Windows .ico file.

Usage: make_icon.py OUTPUT.ico

The picture is a film reel inside a clockwise update arrow. Each size (16, 32 and 48
pixels) is rendered from the same vector description with 4 x 4 supersampling and stored
as a 32-bit BGRA image with alpha, in the BMP form that icon resources use: a
BITMAPINFOHEADER with doubled height, the colour pixels bottom-up, then the 1-bit AND mask.
Only the standard library is used and the output is the same on every run.
"""

import math
import struct
import sys

SIZES = (16, 32, 48)
SUPERSAMPLE = 4

# Colours (R, G, B).
ARROW = (40, 160, 72)
ARROW_EDGE = (22, 104, 44)
REEL_LIGHT = (112, 146, 190)
REEL_DARK = (44, 66, 102)
REEL_RIM = (28, 42, 66)
HUB = (222, 230, 240)

# Geometry in units of the icon's width; the centre is (0.5, 0.5), y grows downwards.
# Angles are measured clockwise from twelve o'clock, in degrees.
RING_INNER, RING_OUTER = 0.345, 0.455
ARROW_TAIL, ARROW_HEAD = 75.0, 330.0      # the arrow's body runs clockwise tail -> head
HEAD_HALF_WIDTH, HEAD_LENGTH = 0.115, 0.18
EDGE = 0.018                              # width of the darker outline of the arrow
REEL_RADIUS, RIM_WIDTH = 0.295, 0.035
# Holes of the reel (count, radius, distance from the centre): fewer, larger ones at 16 px
# stay readable.
HOLES, SMALL_HOLES = (5, 0.07, 0.165), (3, 0.085, 0.16)
HUB_RADIUS, AXLE_RADIUS = 0.07, 0.028


def direction(angle):
    """Unit vector pointing from the centre towards the given clock angle."""
    a = math.radians(angle)
    return math.sin(a), -math.cos(a)


def arrow_head():
    """The three corners of the arrow head: two at its base, one at its tip."""
    mid = (RING_INNER + RING_OUTER) / 2
    dx, dy = direction(ARROW_HEAD)
    tx, ty = -dy, dx  # clockwise tangent
    bx, by = 0.5 + mid * dx, 0.5 + mid * dy
    return ((bx + HEAD_HALF_WIDTH * dx, by + HEAD_HALF_WIDTH * dy),
            (bx - HEAD_HALF_WIDTH * dx, by - HEAD_HALF_WIDTH * dy),
            (bx + HEAD_LENGTH * tx, by + HEAD_LENGTH * ty))


def triangle_depth(x, y, corners):
    """Distance of (x, y) from the nearest edge of the triangle, negative outside."""
    depth = math.inf
    for i in range(3):
        (x0, y0), (x1, y1) = corners[i], corners[(i + 1) % 3]
        ox, oy = corners[(i + 2) % 3]
        ex, ey = x1 - x0, y1 - y0
        length = math.hypot(ex, ey)
        side = (ex * (y - y0) - ey * (x - x0)) / length
        if ex * (oy - y0) - ey * (ox - x0) < 0:
            side = -side
        depth = min(depth, side)
    return depth


def arrow_depth(x, y, head):
    """How far (x, y) lies inside the arrow (ring body or head), negative outside."""
    dx, dy = x - 0.5, y - 0.5
    angle = math.degrees(math.atan2(dx, -dy)) % 360
    body = -math.inf
    if ARROW_TAIL <= angle <= ARROW_HEAD:
        r = math.hypot(dx, dy)
        body = min(r - RING_INNER, RING_OUTER - r)
        # Square end at the tail.
        body = min(body, math.radians(angle - ARROW_TAIL) * r)
    return max(body, triangle_depth(x, y, head))


def sample(x, y, head, holes):
    """Colour of one sample point as (r, g, b, a), a being 0 or 1."""
    depth = arrow_depth(x, y, head)
    if depth >= 0:
        return (*(ARROW if depth > EDGE else ARROW_EDGE), 1)
    dx, dy = x - 0.5, y - 0.5
    r = math.hypot(dx, dy)
    if r > REEL_RADIUS:
        return (0, 0, 0, 0)
    if r <= AXLE_RADIUS:
        return (*REEL_RIM, 1)
    if r <= HUB_RADIUS:
        return (*HUB, 1)
    count, radius, distance = holes
    for i in range(count):
        hx, hy = direction(360.0 * i / count)
        if math.hypot(dx - distance * hx, dy - distance * hy) <= radius:
            return (0, 0, 0, 0)
    if r > REEL_RADIUS - RIM_WIDTH:
        return (*REEL_RIM, 1)
    # Light falls from the upper left.
    t = min(1.0, max(0.0, 0.5 + (dx + dy) / (2 * REEL_RADIUS)))
    return (*(round(l + (d - l) * t) for l, d in zip(REEL_LIGHT, REEL_DARK)), 1)


def render(size):
    """Rows of (r, g, b, a) pixels, top row first, with straight (not premultiplied) alpha."""
    head = arrow_head()
    holes = SMALL_HOLES if size < 24 else HOLES
    n = SUPERSAMPLE
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            sr = sg = sb = sa = 0
            for sy in range(n):
                for sx in range(n):
                    r, g, b, a = sample((px + (sx + 0.5) / n) / size,
                                        (py + (sy + 0.5) / n) / size, head, holes)
                    sr, sg, sb, sa = sr + r * a, sg + g * a, sb + b * a, sa + a
            if sa:
                row.append((round(sr / sa), round(sg / sa), round(sb / sa),
                            round(255 * sa / (n * n))))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def icon_image(size):
    """One icon entry in BMP form: header, BGRA pixels bottom-up, AND mask bottom-up."""
    rows = render(size)
    mask_stride = (size + 31) // 32 * 4
    pixels = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (r, g, b, a) in enumerate(row):
            pixels += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0,
                         len(pixels) + len(mask), 0, 0, 0, 0)
    return header + bytes(pixels) + bytes(mask)


def icon_file(sizes):
    images = [icon_image(size) for size in sizes]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32,
                           len(image), offset)
        offset += len(image)
    for image in images:
        out += image
    return bytes(out)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make_icon.py OUTPUT.ico\n")
        return 2
    with open(argv[1], "wb") as f:
        f.write(icon_file(SIZES))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
