#!/usr/bin/env python3
"""Draws the dialog's button images and the application icon.

The start and stop images are 24-bit BMPs in which RGB (32, 0, 0) marks the
pixels that let the button face show through; their outer edge is hard, since
a blended edge would fringe with that colour. The icon is an RGBA PNG.
Only the standard library is used, so anyone can regenerate the files:

    python3 res/make_images.py res/
"""
import math
import os
import struct
import sys
import zlib

TRANSPARENT = (32, 0, 0)
SUB = 4  # subsamples per axis


def shade(base, t):
    """base lightened (t > 0) or darkened (t < 0), t in [-1, 1]."""
    if t >= 0:
        return tuple(round(c + (255 - c) * t) for c in base)
    return tuple(round(c * (1 + t)) for c in base)


def render(width, height, colour_at):
    """colour_at(x, y) gives an (r, g, b) or None (outside) for a point in
    pixel units; returns rows of pixels, None marking a transparent pixel."""
    rows = []
    for py in range(height):
        row = []
        for px in range(width):
            acc = [0, 0, 0]
            inside = 0
            for sy in range(SUB):
                for sx in range(SUB):
                    c = colour_at(px + (sx + 0.5) / SUB, py + (sy + 0.5) / SUB)
                    if c is not None:
                        inside += 1
                        for i in range(3):
                            acc[i] += c[i]
            if inside * 2 < SUB * SUB:
                row.append(None)
            else:
                pixel = tuple(round(a / inside) for a in acc)
                # A drawn pixel must never equal the transparent colour.
                if pixel == TRANSPARENT:
                    pixel = (33, 0, 0)
                row.append(pixel)
        rows.append(row)
    return rows


def write_bmp(path, rows):
    height = len(rows)
    width = len(rows[0])
    stride = (width * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):  # bottom-up
        line = bytearray()
        for p in row:
            r, g, b = TRANSPARENT if p is None else p
            line += bytes((b, g, r))
        line += b"\0" * (stride - len(line))
        pixels += line
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(pixels), 0, 0, 14 + 40)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + pixels)


def write_png(path, size, rgba_at):
    raw = bytearray()
    for py in range(size):
        raw.append(0)  # no filter
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SUB):
                for sx in range(SUB):
                    r, g, b, a = rgba_at((px + (sx + 0.5) / SUB) / size, (py + (sy + 0.5) / SUB) / size)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = SUB * SUB
            alpha = acc[3] / n
            if alpha > 0:
                colour = [round(acc[i] / acc[3]) for i in range(3)]
            else:
                colour = [0, 0, 0]
            raw += bytes(colour + [round(alpha * 255)])

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def in_triangle(x, y, a, b, c):
    def side(p, q, r):
        return (r[0] - q[0]) * (p[1] - q[1]) - (r[1] - q[1]) * (p[0] - q[0])

    d1, d2, d3 = side((x, y), a, b), side((x, y), b, c), side((x, y), c, a)
    neg = d1 < 0 or d2 < 0 or d3 < 0
    pos = d1 > 0 or d2 > 0 or d3 > 0
    return not (neg and pos)


def start_image():
    """A green disc with a black rim and a white 'play' triangle."""
    w, h = 170, 147
    cx, cy, radius = w / 2, h / 2, 70

    def colour(x, y):
        d = math.hypot(x - cx, y - cy)
        if d > radius:
            return None
        if d > radius - 4:
            return (0, 0, 0)
        # Light from the upper left.
        t = 0.45 * (-(x - cx) - (y - cy)) / radius
        if in_triangle(x, y, (cx - 22, cy - 34), (cx - 22, cy + 34), (cx + 38, cy)):
            return shade((255, 255, 255), 0)
        if in_triangle(x, y, (cx - 26, cy - 39), (cx - 26, cy + 39), (cx + 45, cy)):
            return (0, 70, 20)  # the triangle's dark edge
        return shade((20, 160, 60), t)

    return render(w, h, colour)


def stop_image():
    """A red octagon with a black rim and a white square."""
    w, h = 141, 136
    cx, cy, r = w / 2, h / 2, 64

    def octagon(x, y, rr):
        dx, dy = abs(x - cx), abs(y - cy)
        return dx <= rr and dy <= rr and dx + dy <= rr * 1.4142

    def colour(x, y):
        if not octagon(x, y, r):
            return None
        if not octagon(x, y, r - 4):
            return (0, 0, 0)
        if abs(x - cx) <= 22 and abs(y - cy) <= 22:
            return (255, 255, 255)
        if abs(x - cx) <= 25 and abs(y - cy) <= 25:
            return (90, 0, 0)
        t = 0.4 * (-(x - cx) - (y - cy)) / r
        return shade((200, 30, 30), t)

    return render(w, h, colour)


def icon_rgba(u, v):
    """Two fanned cards, the front one with a red heart; u, v in [0, 1]."""

    def card(x, y, angle, ox, oy):
        c, s = math.cos(angle), math.sin(angle)
        lx = c * (x - ox) + s * (y - oy)
        ly = -s * (x - ox) + c * (y - oy)
        hw, hh, rr = 0.24, 0.34, 0.06
        qx, qy = max(abs(lx) - (hw - rr), 0), max(abs(ly) - (hh - rr), 0)
        return math.hypot(qx, qy) - rr, lx, ly

    d, lx, ly = card(u, v, 0.0, 0.58, 0.52)
    if d <= 0:
        if d > -0.025:
            return (20, 20, 20, 1.0)
        hx, hy = lx / 0.16, -(ly - 0.02) / 0.16
        if (hx * hx + hy * hy - 1) ** 3 - hx * hx * hy ** 3 <= 0:
            return (210, 20, 30, 1.0)
        return (250, 250, 245, 1.0)
    d, lx, ly = card(u, v, -0.35, 0.38, 0.48)
    if d <= 0:
        if d > -0.025:
            return (20, 20, 20, 1.0)
        stripe = (math.floor((lx + ly) * 18) % 2) == 0
        return (30, 70, 170, 1.0) if stripe else (60, 110, 210, 1.0)
    return (0, 0, 0, 0.0)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    write_bmp(os.path.join(out, "start.bmp"), start_image())
    write_bmp(os.path.join(out, "stop.bmp"), stop_image())
    write_png(os.path.join(out, "zelksolver.png"), 64, icon_rgba)
    write_png(os.path.join(out, "zelksolver-128.png"), 128, icon_rgba)


if __name__ == "__main__":
    main()
