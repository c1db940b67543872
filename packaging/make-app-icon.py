#!/usr/bin/env python3
"""Draws Velmo's application icon: packaging/icons/velmo.svg and velmo-<N>.png.

The picture is a dark rounded tile with a grey chest cross-section (body outline,
two dark lungs, the heart, the spine) and a yellow distance line
with end ticks, the viewer's measuring tool. The same shape list is written as
SVG and rasterised here into PNGs with an alpha channel (4 x 4 samples per pixel),
one per size the desktop's icon theme asks for.

Usage: make-app-icon.py [OUTDIR]   (default: the icons/ folder next to this script)
Only the Python standard library is used.
"""

import math
import os
import struct
import sys
import zlib

SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
SS = 4  # samples per pixel along each axis

# Shapes in a 256 x 256 box, painted in order. Colours are (r, g, b, a).
TILE = ("rrect", (8, 8, 248, 248, 44), (24, 44, 72, 255))
SHAPES = [
    TILE,
    ("ellipse", (128, 120, 100, 74), (165, 165, 165, 255)),   # body outline (soft tissue)
    ("ellipse", (88, 114, 34, 46), (45, 45, 45, 255)),        # left lung
    ("ellipse", (168, 114, 34, 46), (45, 45, 45, 255)),       # right lung
    ("ellipse", (134, 124, 22, 26), (200, 200, 200, 255)),    # heart
    ("ellipse", (128, 176, 14, 12), (245, 245, 245, 255)),    # spine
    ("line", (54, 220, 202, 220, 12), (250, 205, 40, 255)),   # distance line
    ("line", (54, 204, 54, 236, 12), (250, 205, 40, 255)),    # its end ticks
    ("line", (202, 204, 202, 236, 12), (250, 205, 40, 255)),
]


def inside(shape, x, y):
    kind, p, _ = shape
    if kind == "rrect":
        x0, y0, x1, y1, r = p
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    if kind == "ellipse":
        cx, cy, rx, ry = p
        return ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0
    if kind == "line":  # a stroke with round ends
        xa, ya, xb, yb, w = p
        dx, dy = xb - xa, yb - ya
        t = max(0.0, min(1.0, ((x - xa) * dx + (y - ya) * dy) / (dx * dx + dy * dy)))
        return (x - xa - t * dx) ** 2 + (y - ya - t * dy) ** 2 <= (w / 2) ** 2
    raise ValueError(kind)


def bbox(shape):
    kind, p, _ = shape
    if kind == "rrect":
        return p[0], p[1], p[2], p[3]
    if kind == "ellipse":
        return p[0] - p[2], p[1] - p[3], p[0] + p[2], p[1] + p[3]
    h = p[4] / 2
    return min(p[0], p[2]) - h, min(p[1], p[3]) - h, max(p[0], p[2]) + h, max(p[1], p[3]) + h


def render(size):
    """Premultiplied RGBA samples composited over transparency, averaged per pixel."""
    n = size * SS
    scale = 256.0 / n
    acc = [(0.0, 0.0, 0.0, 0.0)] * (n * n)
    for shape in SHAPES:
        r, g, b, a = (c / 255.0 for c in shape[2])
        x0, y0, x1, y1 = bbox(shape)
        c0, c1 = max(0, int(x0 / scale) - 1), min(n - 1, int(x1 / scale) + 1)
        r0, r1 = max(0, int(y0 / scale) - 1), min(n - 1, int(y1 / scale) + 1)
        for row in range(r0, r1 + 1):
            y = (row + 0.5) * scale
            for col in range(c0, c1 + 1):
                if inside(shape, (col + 0.5) * scale, y):
                    o = acc[row * n + col]
                    k = 1.0 - a
                    acc[row * n + col] = (r * a + o[0] * k, g * a + o[1] * k, b * a + o[2] * k, a + o[3] * k)
    out = bytearray()
    for py in range(size):
        out.append(0)  # PNG filter type "none"
        for px in range(size):
            s = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SS):
                base = (py * SS + sy) * n + px * SS
                for sx in range(SS):
                    v = acc[base + sx]
                    for i in range(4):
                        s[i] += v[i]
            alpha = s[3] / (SS * SS)
            if alpha > 0:
                out += bytes(round(min(1.0, s[i] / s[3]) * 255) for i in range(3))
            else:
                out += b"\0\0\0"
            out.append(round(alpha * 255))
    return bytes(out)


def png(size, raw):
    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data))
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def svg():
    parts = ['<?xml version="1.0" encoding="UTF-8"?>',
             '<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">']
    for kind, p, c in SHAPES:
        colour = "#%02x%02x%02x" % c[:3]
        if kind == "rrect":
            parts.append('  <rect x="%g" y="%g" width="%g" height="%g" rx="%g" fill="%s"/>'
                         % (p[0], p[1], p[2] - p[0], p[3] - p[1], p[4], colour))
        elif kind == "ellipse":
            parts.append('  <ellipse cx="%g" cy="%g" rx="%g" ry="%g" fill="%s"/>' % (p + (colour,)))
        else:
            parts.append('  <line x1="%g" y1="%g" x2="%g" y2="%g" stroke-width="%g" stroke="%s" '
                         'stroke-linecap="round"/>' % (p + (colour,)))
    parts.append("</svg>")
    return "\n".join(parts) + "\n"


def main():
    outdir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "icons")
    os.makedirs(outdir, exist_ok=True)
    with open(os.path.join(outdir, "velmo.svg"), "w", encoding="utf-8") as f:
        f.write(svg())
    for size in SIZES:
        with open(os.path.join(outdir, "velmo-%d.png" % size), "wb") as f:
            f.write(png(size, render(size)))


if __name__ == "__main__":
    main()
