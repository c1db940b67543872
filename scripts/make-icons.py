#!/usr/bin/env python3
"""Draws the tool-button pictures of the main window into data/Icon/.

Every picture is a 32 x 32, 24-bit uncompressed BMP on the button-face grey
(240, 240, 240), so a button that shows it needs no transparency. Shapes are
rasterised on a 4 x 4 supersampled grid and averaged, which gives smooth edges.
A name ending in "Off" is the disabled-looking (grey, low-contrast) form of the
picture without the suffix.

Usage: make-icons.py [OUTDIR] [--preview SHEET.png]
  OUTDIR defaults to data/Icon next to this script's folder. --preview also
  writes all pictures enlarged 4 times on one PNG sheet, for a quick look.
Only the Python standard library is used.
"""

import math
import os
import struct
import sys
import zlib

SIZE = 32
SS = 4                      # samples per pixel along each axis
HI = SIZE * SS

BG = (240, 240, 240)
INK = (40, 40, 40)
WHITE = (255, 255, 255)
BLACK = (0, 0, 0)
GREY = (128, 128, 128)
LGREY = (200, 200, 200)
DGREY = (80, 80, 80)
BLUE = (40, 100, 200)
LBLUE = (150, 195, 240)
RED = (210, 40, 40)
DRED = (150, 20, 20)
GREEN = (40, 160, 60)
YELLOW = (245, 205, 50)
ORANGE = (245, 140, 30)
SKIN = (240, 200, 160)
FOLDER = (245, 200, 80)
FOLDER_DARK = (200, 150, 40)
ROI_CIRCLE = (255, 128, 0)   # the overlay colours the viewer uses by default
ROI_BOX = (0, 128, 255)
CTR_GREEN = (0, 200, 0)
PROBE = (255, 0, 255)


class Canvas:
    """A supersampled RGB picture with painter's-order filling of shapes."""

    def __init__(self, bg=BG):
        self.px = [bg] * (HI * HI)

    def fill(self, inside, box, colour, alpha=1.0):
        """Paints every sample whose centre (in pixel units) satisfies inside(x, y)."""
        x0, y0, x1, y1 = box
        c0 = max(0, int(math.floor(x0 * SS)))
        c1 = min(HI - 1, int(math.ceil(x1 * SS)))
        r0 = max(0, int(math.floor(y0 * SS)))
        r1 = min(HI - 1, int(math.ceil(y1 * SS)))
        px = self.px
        for r in range(r0, r1 + 1):
            y = (r + 0.5) / SS
            base = r * HI
            for c in range(c0, c1 + 1):
                x = (c + 0.5) / SS
                if inside(x, y):
                    if alpha >= 1.0:
                        px[base + c] = colour
                    else:
                        o = px[base + c]
                        px[base + c] = tuple(o[i] + (colour[i] - o[i]) * alpha for i in range(3))

    # --- primitives -------------------------------------------------------
    def rect(self, x0, y0, x1, y1, colour, alpha=1.0):
        self.fill(lambda x, y: x0 <= x <= x1 and y0 <= y <= y1, (x0, y0, x1, y1), colour, alpha)

    def rrect(self, x0, y0, x1, y1, rad, colour):
        def inside(x, y):
            if not (x0 <= x <= x1 and y0 <= y <= y1):
                return False
            cx = min(max(x, x0 + rad), x1 - rad)
            cy = min(max(y, y0 + rad), y1 - rad)
            return (x - cx) ** 2 + (y - cy) ** 2 <= rad * rad
        self.fill(inside, (x0, y0, x1, y1), colour)

    def frame(self, x0, y0, x1, y1, w, colour):
        """Outline of a rectangle, w wide, inside the given bounds."""
        self.fill(lambda x, y: (x0 <= x <= x1 and y0 <= y <= y1) and not
                  (x0 + w <= x <= x1 - w and y0 + w <= y <= y1 - w), (x0, y0, x1, y1), colour)

    def ellipse(self, cx, cy, rx, ry, colour, alpha=1.0):
        self.fill(lambda x, y: ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0,
                  (cx - rx, cy - ry, cx + rx, cy + ry), colour, alpha)

    def circle(self, cx, cy, r, colour, alpha=1.0):
        self.ellipse(cx, cy, r, r, colour, alpha)

    def ring(self, cx, cy, r, w, colour):
        """Circle outline of radius r (centre of the stroke) and width w."""
        self.fill(lambda x, y: abs(math.hypot(x - cx, y - cy) - r) <= w / 2,
                  (cx - r - w, cy - r - w, cx + r + w, cy + r + w), colour)

    def arc(self, cx, cy, r, w, a0, a1, colour):
        """Part of a ring from angle a0 to a1 (degrees, counter-clockwise, 0 = right)."""
        span = (a1 - a0) % 360

        def inside(x, y):
            if abs(math.hypot(x - cx, y - cy) - r) > w / 2:
                return False
            a = math.degrees(math.atan2(cy - y, x - cx))
            return (a - a0) % 360 <= span
        self.fill(inside, (cx - r - w, cy - r - w, cx + r + w, cy + r + w), colour)

    def line(self, xa, ya, xb, yb, w, colour, alpha=1.0):
        """A stroke with round ends."""
        dx, dy = xb - xa, yb - ya
        ll = dx * dx + dy * dy or 1e-9
        h = w / 2

        def inside(x, y):
            t = max(0.0, min(1.0, ((x - xa) * dx + (y - ya) * dy) / ll))
            return (x - xa - t * dx) ** 2 + (y - ya - t * dy) ** 2 <= h * h
        self.fill(inside, (min(xa, xb) - h, min(ya, yb) - h, max(xa, xb) + h, max(ya, yb) + h),
                  colour, alpha)

    def poly(self, pts, colour, alpha=1.0):
        """Filled polygon (even-odd rule)."""
        n = len(pts)

        def inside(x, y):
            c = False
            j = n - 1
            for i in range(n):
                xi, yi = pts[i]
                xj, yj = pts[j]
                if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                    c = not c
                j = i
            return c
        xs = [p[0] for p in pts]
        ys = [p[1] for p in pts]
        self.fill(inside, (min(xs), min(ys), max(xs), max(ys)), colour, alpha)

    def outline(self, pts, w, colour, closed=True):
        n = len(pts)
        for i in range(n if closed else n - 1):
            a, b = pts[i], pts[(i + 1) % n]
            self.line(a[0], a[1], b[0], b[1], w, colour)

    def arrow_head(self, tip, direction, length, half_width, colour):
        dx, dy = direction
        d = math.hypot(dx, dy)
        dx, dy = dx / d, dy / d
        bx, by = tip[0] - dx * length, tip[1] - dy * length
        self.poly([tip, (bx - dy * half_width, by + dx * half_width),
                   (bx + dy * half_width, by - dx * half_width)], colour)

    def arrow(self, xa, ya, xb, yb, w, colour, head=4.5, both=False):
        dx, dy = xb - xa, yb - ya
        d = math.hypot(dx, dy)
        ux, uy = dx / d, dy / d
        sa = head * 0.8 if both else 0
        self.line(xa + ux * sa, ya + uy * sa, xb - ux * head * 0.8, yb - uy * head * 0.8, w, colour)
        self.arrow_head((xb, yb), (dx, dy), head, head * 0.6, colour)
        if both:
            self.arrow_head((xa, ya), (-dx, -dy), head, head * 0.6, colour)

    def text(self, s, x, y, scale, colour):
        """Pixel-font text; each font dot is a scale x scale square."""
        for ch in s:
            glyph = FONT[ch]
            for row, bits in enumerate(glyph):
                for col, bit in enumerate(bits):
                    if bit == '#':
                        self.rect(x + col * scale, y + row * scale,
                                  x + (col + 1) * scale - 0.01, y + (row + 1) * scale - 0.01, colour)
            x += (len(glyph[0]) + 1) * scale

    # --- whole-picture operations -----------------------------------------
    def mirror(self):
        out = Canvas()
        for r in range(HI):
            out.px[r * HI:(r + 1) * HI] = self.px[r * HI:(r + 1) * HI][::-1]
        return out

    def transpose(self):
        out = Canvas()
        for r in range(HI):
            for c in range(HI):
                out.px[c * HI + r] = self.px[r * HI + c]
        return out

    def pixels(self):
        """The 32 x 32 picture: each pixel the mean of its samples, top row first."""
        rows = []
        n = SS * SS
        for y in range(SIZE):
            row = []
            for x in range(SIZE):
                acc = [0.0, 0.0, 0.0]
                for sy in range(SS):
                    base = (y * SS + sy) * HI + x * SS
                    for sx in range(SS):
                        p = self.px[base + sx]
                        acc[0] += p[0]
                        acc[1] += p[1]
                        acc[2] += p[2]
                row.append(tuple(int(round(a / n)) for a in acc))
            rows.append(row)
        return rows


FONT = {
    '0': [".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."],
    '1': [".#.", "##.", ".#.", ".#.", ".#.", ".#.", "###"],
    '%': ["##...", "##..#", "...#.", "..#..", ".#...", "#..##", "...##"],
    ':': ["#", "#", ".", ".", ".", "#", "#"],
    'm': ["......", "......", "##.##.", "#.#.#.", "#.#.#.", "#.#.#.", "#.#.#."],
}


# --- shared motifs ----------------------------------------------------------

def image_frame(cv, x0, y0, x1, y1, border=DGREY, body=True):
    """A black image area with a thin border; optionally a CT-like cross-section."""
    cv.rect(x0, y0, x1, y1, border)
    cv.rect(x0 + 1, y0 + 1, x1 - 1, y1 - 1, BLACK)
    if body:
        cross_section(cv, (x0 + x1) / 2, (y0 + y1) / 2 + 0.5, (x1 - x0 - 4) / 2, (y1 - y0 - 4) / 2)


def cross_section(cv, cx, cy, rx, ry):
    """A trunk cross-section: soft tissue, two dark lungs, a bright spine."""
    ry = min(ry, rx * 0.72)
    cv.ellipse(cx, cy, rx, ry, (150, 150, 150))
    cv.ellipse(cx - rx * 0.45, cy - ry * 0.05, rx * 0.36, ry * 0.62, (35, 35, 35))
    cv.ellipse(cx + rx * 0.45, cy - ry * 0.05, rx * 0.36, ry * 0.62, (35, 35, 35))
    cv.circle(cx, cy + ry * 0.62, max(1.0, rx * 0.14), WHITE)


def document(cv, x0, y0, x1, y1, lines=True, fold=4.0):
    """A sheet of paper with a folded corner and optional text lines."""
    pts = [(x0, y0), (x1 - fold, y0), (x1, y0 + fold), (x1, y1), (x0, y1)]
    cv.poly(pts, WHITE)
    cv.outline(pts, 1.3, INK)
    cv.poly([(x1 - fold, y0), (x1 - fold, y0 + fold), (x1, y0 + fold)], LGREY)
    cv.outline([(x1 - fold, y0), (x1 - fold, y0 + fold), (x1, y0 + fold)], 1.0, INK, closed=False)
    if lines:
        y = y0 + fold + 3
        while y < y1 - 2.5:
            cv.line(x0 + 3, y, x1 - 3, y, 1.2, GREY)
            y += 3


def floppy(cv, ox, oy, s):
    """A floppy disk in a (s * 24)-wide square at (ox, oy)."""
    def P(x, y):
        return ox + x * s, oy + y * s
    body = [P(0, 0), P(20, 0), P(24, 4), P(24, 24), P(0, 24)]
    cv.poly(body, BLUE)
    cv.outline(body, max(0.9, 1.4 * s), (20, 50, 110))
    x0, y0 = P(5, 0.8)
    x1, y1 = P(18, 8.5)
    cv.rect(x0, y0, x1, y1, LGREY)
    sx0, sy0 = P(13, 2)
    sx1, sy1 = P(16, 7.5)
    cv.rect(sx0, sy0, sx1, sy1, DGREY)
    lx0, ly0 = P(3.5, 12.5)
    lx1, ly1 = P(20.5, 24)
    cv.rect(lx0, ly0, lx1, ly1, WHITE)
    if s > 0.7:
        for yy in (16, 19.5):
            a = P(6, yy)
            b = P(18, yy)
            cv.line(a[0], a[1], b[0], b[1], 1.0, LBLUE)


def folder_back(cv):
    tab = [(3, 7), (11, 7), (13.5, 9.5), (29, 9.5), (29, 27), (3, 27)]
    cv.poly(tab, FOLDER_DARK)
    cv.outline(tab, 1.3, (120, 85, 20))


def stack_slab(cv, x, y, w, h, skew, colour, edge=INK):
    pts = [(x + skew, y), (x + w + skew, y), (x + w, y + h), (x, y + h)]
    cv.poly(pts, colour)
    cv.outline(pts, 1.0, edge)


def play_triangle(cv, pointing_right, colour):
    if pointing_right:
        pts = [(10, 6), (26, 16), (10, 26)]
    else:
        pts = [(22, 6), (6, 16), (22, 26)]
    cv.poly(pts, colour)
    cv.outline(pts, 1.4, INK)


def rotation_arrow(cv, colour):
    """A counter-clockwise arrow around a small image square."""
    cx, cy, r = 16, 16.5, 10
    a0, a1 = -50, 195
    cv.arc(cx, cy, r, 3.2, a0, a1, colour)
    t = math.radians(a1)
    tip_base = (cx + r * math.cos(t), cy - r * math.sin(t))
    tangent = (-math.sin(t), -math.cos(t))
    tip = (tip_base[0] + tangent[0] * 5.5, tip_base[1] + tangent[1] * 5.5)
    cv.arrow_head(tip, tangent, 7.5, 4.8, colour)
    cv.rect(12.5, 13, 19.5, 20, LGREY)
    cv.frame(12.5, 13, 19.5, 20, 1.0, DGREY)
    cv.rect(13.5, 14, 15.5, 16, DGREY)   # a mark so the square has a top-left corner


# --- the pictures -------------------------------------------------------------

def draw_patient(cv):
    cv.ellipse(16, 29, 12.5, 11.5, INK)
    cv.ellipse(16, 29, 11.2, 10.2, BLUE)
    cv.rect(0, 30.5, 32, 32, BG)
    cv.rect(3.5, 30.3, 28.5, 30.5, INK)
    cv.circle(16, 10, 6.6, INK)
    cv.circle(16, 10, 5.4, SKIN)
    cv.line(13, 21, 16, 25, 1.4, WHITE)   # collar
    cv.line(19, 21, 16, 25, 1.4, WHITE)


def draw_study(cv):
    cv.rrect(6, 4, 26, 30, 2, (150, 100, 50))
    cv.rect(8.5, 8, 23.5, 28, WHITE)
    cv.rrect(11.5, 2, 20.5, 8, 1.5, DGREY)
    cv.rect(14, 3.5, 18, 5, LGREY)
    for i, y in enumerate((12.5, 17.5, 22.5)):
        cv.line(10.5, y, 12.5, y + 1.6, 1.3, GREEN)
        cv.line(12.5, y + 1.6, 14.5, y - 1.4, 1.3, GREEN)
        cv.line(16, y, 21.5, y, 1.3, GREY)


def draw_series(cv):
    image_frame(cv, 13, 3, 29, 19, body=False)
    image_frame(cv, 8, 8, 24, 24, body=False)
    image_frame(cv, 3, 13, 19, 29)
    cv.rect(14, 4, 28, 4.8, GREY)


def draw_image(cv):
    image_frame(cv, 3, 4, 29, 28)


def draw_separate(cv):
    image_frame(cv, 1.5, 6, 15, 26, border=ORANGE)
    image_frame(cv, 17, 6, 30.5, 26, border=GREY)
    cv.frame(1, 5.5, 15.5, 26.5, 1.3, ORANGE)


def draw_combine(cv):
    cv.rect(1, 5, 31, 27, ORANGE)
    image_frame(cv, 2.5, 6.5, 16, 25.5, border=BLACK)
    image_frame(cv, 16, 6.5, 29.5, 25.5, border=BLACK)
    cv.rect(15.6, 6.5, 16.4, 25.5, GREY)


def draw_lut(cv):
    cv.circle(16, 13, 11, INK)
    cv.fill(lambda x, y: (x - 16) ** 2 + (y - 13) ** 2 <= 9.8 ** 2 and x >= 16, (16, 3, 26, 23), WHITE)
    cv.fill(lambda x, y: (x - 16) ** 2 + (y - 13) ** 2 <= 9.8 ** 2 and x < 16, (6, 3, 16, 23), BLACK)
    for i in range(24):
        v = int(255 * i / 23)
        cv.rect(4 + i, 26.5, 5 + i, 30, (v, v, v))
    cv.frame(3.5, 26, 28.5, 30.5, 0.8, INK)


def draw_negaposi(cv):
    cv.rect(3, 4, 29, 28, INK)
    cv.rect(4, 5, 16, 27, WHITE)
    cv.rect(16, 5, 28, 27, BLACK)
    cv.fill(lambda x, y: (x - 16) ** 2 + (y - 16) ** 2 <= 8 ** 2 and x < 16, (8, 8, 16, 24), BLACK)
    cv.fill(lambda x, y: (x - 16) ** 2 + (y - 16) ** 2 <= 8 ** 2 and x >= 16, (16, 8, 24, 24), WHITE)


def draw_palette(cv):
    cv.ellipse(16, 16.5, 14, 12, (120, 85, 40))
    cv.ellipse(16, 16.5, 12.8, 10.8, (235, 205, 150))
    cv.circle(21.5, 22, 2.6, BG)
    cv.ring(21.5, 22, 2.6, 1.1, (120, 85, 40))
    for (x, y, c) in ((8, 14, RED), (13.5, 10, YELLOW), (19.5, 9.5, GREEN),
                      (25, 13.5, BLUE), (9.5, 21, (160, 60, 200))):
        cv.circle(x, y, 2.7, c)


def draw_lvwdhold(cv):
    cv.arc(16, 13, 6, 2.8, 0, 180, GREY)
    cv.rect(8.6, 12.5, 11.4, 16, GREY)
    cv.rect(20.6, 12.5, 23.4, 16, GREY)
    cv.rrect(6.5, 15, 25.5, 29, 2, (150, 110, 20))
    cv.rrect(7.7, 16.2, 24.3, 27.8, 1.5, YELLOW)
    cv.circle(16, 20.5, 2.2, INK)
    cv.poly([(15, 21), (17, 21), (17.8, 25.5), (14.2, 25.5)], INK)


def draw_zoom(cv):
    cv.line(19.5, 19.5, 28, 28, 4.2, INK)
    cv.circle(13, 13, 9.8, INK)
    cv.circle(13, 13, 7.8, (210, 230, 250))
    cv.line(9, 13, 17, 13, 2.2, INK)
    cv.line(13, 9, 13, 17, 2.2, INK)


def draw_leftright(cv):
    for y in range(2, 27, 4):
        cv.line(16, y, 16, y + 2, 1.2, DGREY)
    left = [(14, 6), (14, 24), (3, 24)]
    right = [(18, 6), (18, 24), (29, 24)]
    cv.poly(left, BLUE)
    cv.outline(left, 1.2, INK)
    cv.poly(right, LBLUE)
    cv.outline(right, 1.2, INK)
    cv.arrow(5, 28.5, 27, 28.5, 1.6, INK, head=4, both=True)


def draw_turnleft(cv):
    rotation_arrow(cv, BLUE)


def draw_sharp(cv):
    image_frame(cv, 3, 4, 29, 28, body=False)
    cv.poly([(6, 25), (14, 9), (22, 25)], WHITE)
    cv.poly([(17, 25), (22, 15), (27, 25)], LGREY)
    star = []
    for i in range(8):
        a = math.radians(i * 45)
        rr = 6.5 if i % 2 == 0 else 2.0
        star.append((23 + rr * math.cos(a), 9.5 + rr * math.sin(a)))
    cv.poly(star, YELLOW)


def draw_median(cv):
    cv.rect(3, 4, 29, 28, DGREY)
    cv.rect(4, 5, 28, 27, (110, 110, 110))
    cv.circle(16, 16, 7.5, (200, 200, 200))
    seed = 12345
    for _ in range(70):
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        x = 4 + (seed >> 8) % 12
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        y = 5 + (seed >> 8) % 22
        v = 0 if (seed >> 4) & 1 else 255
        cv.rect(x, y, x + 1, y + 1, (v, v, v))
    cv.rect(15.6, 5, 16.4, 27, YELLOW)


def draw_sliceline(cv):
    image_frame(cv, 3, 4, 29, 28)
    cv.line(1.5, 14, 30.5, 14, 1.8, YELLOW)
    cv.circle(2.5, 14, 2, YELLOW)
    cv.circle(29.5, 14, 2, YELLOW)


def iso(x, y, z, s=8.5, cx=16, cy=17):
    """Isometric projection of a point of the unit cube centred on the origin."""
    return (cx + (x - y) * 0.866 * s, cy + (x + y) * 0.5 * s - z * s)


def draw_mpr(cv):
    corners = {}
    for x in (-1, 1):
        for y in (-1, 1):
            for z in (-1, 1):
                corners[(x, y, z)] = iso(x, y, z)
    # back faces lightly filled
    cv.poly([iso(-1, -1, -1), iso(1, -1, -1), iso(1, 1, -1), iso(-1, 1, -1)], (225, 225, 225))
    # the three middle planes
    cv.poly([iso(-1, -1, 0), iso(1, -1, 0), iso(1, 1, 0), iso(-1, 1, 0)], (60, 120, 230), 0.9)
    cv.poly([iso(0, -1, -1), iso(0, 1, -1), iso(0, 1, 1), iso(0, -1, 1)], (220, 50, 50), 0.75)
    cv.poly([iso(-1, 0, -1), iso(1, 0, -1), iso(1, 0, 1), iso(-1, 0, 1)], (40, 170, 60), 0.75)
    edges = []
    for a in corners:
        for b in corners:
            if a < b and sum(1 for i in range(3) if a[i] != b[i]) == 1:
                edges.append((corners[a], corners[b]))
    for (p, q) in edges:
        cv.line(p[0], p[1], q[0], q[1], 0.9, INK)


def draw_mip(cv):
    for i, y in enumerate((20, 14.5, 9)):
        stack_slab(cv, 2, y, 10, 5, 4, (170 - i * 15, 170 - i * 15, 170 - i * 15))
    for y in (10, 15.5, 21):
        cv.arrow(15.5, y, 20.5, y, 1.2, ORANGE, head=3)
    image_frame(cv, 21, 5, 31, 27, body=False)
    cv.line(26, 8, 26, 24, 1.6, WHITE)
    cv.line(26, 14, 23.5, 10, 1.2, WHITE)
    cv.line(26, 18, 29, 13, 1.2, WHITE)
    cv.line(26, 21, 23, 24.5, 1.0, LGREY)


def draw_distance(cv):
    ang = math.radians(-40)
    ux, uy = math.cos(ang), math.sin(ang)
    nx, ny = -uy, ux
    cx, cy, half, w = 16, 17, 15, 5
    pts = [(cx - ux * half - nx * w, cy - uy * half - ny * w),
           (cx + ux * half - nx * w, cy + uy * half - ny * w),
           (cx + ux * half + nx * w, cy + uy * half + ny * w),
           (cx - ux * half + nx * w, cy - uy * half + ny * w)]
    cv.poly(pts, YELLOW)
    cv.outline(pts, 1.2, (120, 90, 10))
    for i in range(1, 10):
        t = -half + i * 3
        ln = 4.2 if i % 2 == 0 else 2.4
        bx, by = cx + ux * t - nx * (w - 0.6), cy + uy * t - ny * (w - 0.6)
        cv.line(bx, by, bx + nx * ln, by + ny * ln, 0.9, INK)


def draw_angle(cv):
    vx, vy = 5, 26
    cv.arc(vx, vy, 10, 1.8, 0, 52, ORANGE)
    cv.line(vx, vy, 29, vy, 2.4, INK)
    a = math.radians(52)
    cv.line(vx, vy, vx + 24 * math.cos(a), vy - 24 * math.sin(a), 2.4, INK)
    cv.circle(vx, vy, 2, RED)


def draw_ctr(cv):
    cv.rect(2, 2, 30, 30, BLACK)
    cv.ellipse(16, 18, 13, 12.5, (120, 120, 120))
    cv.ellipse(10.5, 15.5, 5, 9, (30, 30, 30))
    cv.ellipse(21.5, 15.5, 5, 9, (30, 30, 30))
    cv.rect(15, 4, 17, 14, (190, 190, 190))
    cv.ellipse(18, 20.5, 7.5, 6, (215, 215, 215))
    cv.line(4.5, 28, 27.5, 28, 1.4, CTR_GREEN)
    cv.line(4.5, 26.3, 4.5, 29.7, 1.2, CTR_GREEN)
    cv.line(27.5, 26.3, 27.5, 29.7, 1.2, CTR_GREEN)
    cv.line(12, 21, 24.5, 21, 1.4, CTR_GREEN)
    cv.line(12, 19.3, 12, 22.7, 1.2, CTR_GREEN)
    cv.line(24.5, 19.3, 24.5, 22.7, 1.2, CTR_GREEN)


def draw_pvalue(cv):
    greys = [60, 120, 90, 150, 200, 110, 80, 170, 130]
    for i, g in enumerate(greys):
        x = 4 + (i % 3) * 8
        y = 4 + (i // 3) * 8
        cv.rect(x, y, x + 8, y + 8, (g, g, g))
    cv.frame(4, 4, 28, 28, 0.8, INK)
    cv.line(16, 1, 16, 10.5, 1.3, PROBE)
    cv.line(16, 21.5, 16, 31, 1.3, PROBE)
    cv.line(1, 16, 10.5, 16, 1.3, PROBE)
    cv.line(21.5, 16, 31, 16, 1.3, PROBE)
    cv.frame(11.5, 11.5, 20.5, 20.5, 1.6, PROBE)


def draw_roicircle(cv):
    image_frame(cv, 3, 4, 29, 28)
    cv.ring(16, 16, 7.5, 2.0, ROI_CIRCLE)


def draw_roibox(cv):
    image_frame(cv, 3, 4, 29, 28)
    cv.frame(9, 9.5, 23, 22.5, 2.0, ROI_BOX)


def draw_select(cv):
    pts = [(9, 3), (9, 25), (14, 20.5), (18, 29), (21.5, 27.5), (17.5, 19), (24, 19)]
    cv.poly(pts, WHITE)
    cv.outline(pts, 1.5, INK)


def draw_delete(cv):
    cv.line(8, 8, 24, 24, 6.5, DRED)
    cv.line(24, 8, 8, 24, 6.5, DRED)
    cv.line(8, 8, 24, 24, 4.2, RED)
    cv.line(24, 8, 8, 24, 4.2, RED)


def draw_japan(cv):
    # The character for "day", which also opens the word for Japanese.
    cv.frame(8.5, 4, 23.5, 28.5, 2.6, INK)
    cv.rect(8.5, 14.9, 23.5, 17.5, INK)


def draw_english(cv):
    cv.line(16, 4.5, 7.5, 28, 3, INK)
    cv.line(16, 4.5, 24.5, 28, 3, INK)
    cv.line(10.5, 20, 21.5, 20, 2.6, INK)
    cv.rect(14.5, 3.5, 17.5, 6, INK)


def draw_binary(cv):
    cv.text("01", 4, 1.5, 2, INK)
    cv.text("10", 8, 17, 2, BLUE)


def draw_reverse(cv):
    play_triangle(cv, False, GREEN)


def draw_forward(cv):
    play_triangle(cv, True, GREEN)


def draw_cinestop(cv):
    cv.rrect(8, 8, 24, 24, 1.5, INK)
    cv.rrect(9.3, 9.3, 22.7, 22.7, 1, (200, 50, 50))


def draw_clear(cv):
    ang = math.radians(-40)
    ux, uy = math.cos(ang), math.sin(ang)
    nx, ny = -uy, ux

    def box(t0, t1, w, cx=15, cy=16):
        return [(cx + ux * t0 - nx * w, cy + uy * t0 - ny * w),
                (cx + ux * t1 - nx * w, cy + uy * t1 - ny * w),
                (cx + ux * t1 + nx * w, cy + uy * t1 + ny * w),
                (cx + ux * t0 + nx * w, cy + uy * t0 + ny * w)]
    cv.line(4, 28.5, 28, 28.5, 1.4, GREY)
    cv.poly(box(-11, 0, 6), (245, 160, 170))
    cv.poly(box(0, 11, 6), (70, 110, 200))
    cv.outline(box(-11, 11, 6), 1.3, INK)
    p, q = box(0, 0, 6)[0], box(0, 0, 6)[2]
    cv.line(p[0], p[1], q[0], q[1], 1.1, INK)


def draw_reload(cv):
    cx, cy, r = 16, 16, 9.5
    for a0, a1 in ((25, 160), (205, 340)):
        cv.arc(cx, cy, r, 3.2, a0, a1, GREEN)
        t = math.radians(a1)
        base = (cx + r * math.cos(t), cy - r * math.sin(t))
        tangent = (-math.sin(t), -math.cos(t))
        tip = (base[0] + tangent[0] * 5, base[1] + tangent[1] * 5)
        cv.arrow_head(tip, tangent, 7, 4.5, GREEN)


def draw_folder(cv):
    folder_back(cv)
    front = [(3, 11.5), (29, 11.5), (29, 27), (3, 27)]
    cv.poly(front, FOLDER)
    cv.outline(front, 1.3, (120, 85, 20))


def draw_folderopen(cv):
    folder_back(cv)
    document(cv, 8, 4, 24, 22, lines=True, fold=3.5)
    front = [(6.5, 14), (31, 14), (27, 27), (3, 27)]
    cv.poly(front, FOLDER)
    cv.outline(front, 1.3, (120, 85, 20))


def draw_zoomcubic(cv):
    cv.frame(2, 2, 30, 30, 1.6, INK)
    cv.rect(10.5, 10.5, 21.5, 21.5, LBLUE)
    cv.frame(10.5, 10.5, 21.5, 21.5, 1.0, BLUE)
    for (ax, ay, bx, by) in ((10.5, 10.5, 4.5, 4.5), (21.5, 10.5, 27.5, 4.5),
                             (10.5, 21.5, 4.5, 27.5), (21.5, 21.5, 27.5, 27.5)):
        cv.arrow(ax, ay, bx, by, 1.6, BLUE, head=4.2)


def draw_zoom100(cv):
    cv.text("100", 1.5, 4, 2, INK)
    cv.text("%", 11, 17, 2, BLUE)


def draw_zoomlife(cv):
    cv.rect(2.5, 20, 29.5, 29, YELLOW)
    cv.frame(2.5, 20, 29.5, 29, 1.0, (120, 90, 10))
    for i in range(0, 11):
        x = 4 + i * 2.4
        ln = 4.5 if i % 5 == 0 else 2.5
        cv.line(x, 20.5, x, 20.5 + ln, 0.8, INK)
    cv.arrow(4, 11, 28, 11, 1.6, INK, head=4, both=True)
    cv.line(4, 5, 4, 17, 1.3, INK)
    cv.line(28, 5, 28, 17, 1.3, INK)


def draw_imginfo(cv):
    cv.rect(2, 3, 30, 29, DGREY)
    cv.rect(3, 4, 29, 28, BLACK)
    cross_section(cv, 16, 16.5, 7, 7)
    for (x, y, w) in ((4.5, 6, 8), (4.5, 8.7, 5), (4.5, 11.4, 6), (20, 6, 7.5), (22.5, 8.7, 5),
                      (4.5, 23.3, 6), (4.5, 26, 8), (21.5, 23.3, 6), (19.5, 26, 8)):
        cv.rect(x, y - 0.6, x + w, y + 0.6, YELLOW)


def draw_save(cv):
    floppy(cv, 4, 4, 1.0)


def draw_copy(cv):
    document(cv, 4, 3, 19, 22, lines=True, fold=4)
    document(cv, 13, 10, 28, 29, lines=True, fold=4)


def draw_print(cv):
    cv.rect(9, 3, 23, 14, WHITE)
    cv.frame(9, 3, 23, 14, 1.0, INK)
    cv.rrect(3, 12, 29, 24, 2, (110, 110, 120))
    cv.rrect(4.2, 13.2, 27.8, 22.8, 1.5, (170, 170, 180))
    cv.circle(24.5, 16, 1.3, GREEN)
    cv.rect(8, 19, 24, 21, INK)
    cv.rect(9, 20, 23, 29.5, WHITE)
    cv.frame(9, 20, 23, 29.5, 1.0, INK)
    for y in (23.5, 26):
        cv.line(11, y, 21, y, 1.0, GREY)


def draw_savetext(cv):
    document(cv, 3, 2, 21, 28, lines=True, fold=5)
    floppy(cv, 16, 16, 0.58)


def greyed(cv):
    """The disabled look: grey, with its contrast against the background lowered."""
    out = Canvas()
    for i, (r, g, b) in enumerate(cv.px):
        lum = 0.299 * r + 0.587 * g + 0.114 * b
        v = BG[0] + (lum - BG[0]) * 0.42
        out.px[i] = (v, v, v)
    return out


def make(draw):
    cv = Canvas()
    draw(cv)
    return cv


ICONS = {}


def build():
    base = {
        "Patient": draw_patient, "Study": draw_study, "Series": draw_series, "Image": draw_image,
        "Separate": draw_separate, "Combine": draw_combine, "Lut": draw_lut,
        "NegaPosi": draw_negaposi, "Palette": draw_palette, "LvWdHold": draw_lvwdhold,
        "Zoom": draw_zoom, "LeftRight": draw_leftright, "TurnLeft": draw_turnleft,
        "Sharp": draw_sharp, "Median": draw_median, "SliceLine": draw_sliceline,
        "Mpr": draw_mpr, "Mip": draw_mip, "Distance": draw_distance, "Angle": draw_angle,
        "Ctr": draw_ctr, "PValue": draw_pvalue, "RoiCircle": draw_roicircle,
        "RoiBox": draw_roibox, "Select": draw_select, "Delete": draw_delete,
        "Japan": draw_japan, "English": draw_english, "Binary": draw_binary,
        "Reverse": draw_reverse, "Forward": draw_forward, "Clear": draw_clear,
        "Reload": draw_reload, "Folder": draw_folder, "FolderOpen": draw_folderopen,
        "ZoomCubic": draw_zoomcubic, "Zoom100": draw_zoom100, "ZoomLife": draw_zoomlife,
        "ImgInfo": draw_imginfo, "CineStop": draw_cinestop, "Save": draw_save,
        "Copy": draw_copy, "Print": draw_print, "SaveText": draw_savetext,
    }
    for name, draw in base.items():
        ICONS[name] = make(draw)
    ICONS["UpDown"] = ICONS["LeftRight"].transpose()
    ICONS["TurnRight"] = ICONS["TurnLeft"].mirror()
    for name in ("Combine", "SliceLine", "Reverse", "Forward", "Reload", "Folder",
                 "FolderOpen", "ImgInfo", "CineStop"):
        ICONS[name + "Off"] = greyed(ICONS[name])


# The names the main window loads, in its order.
NAMES = ["Patient", "Study", "Series", "Image", "Separate", "CombineOff", "Combine", "Lut",
         "NegaPosi", "Palette", "LvWdHold", "Zoom", "LeftRight", "UpDown", "TurnLeft",
         "TurnRight", "Sharp", "Median", "SliceLineOff", "SliceLine", "Mpr", "Mip", "Distance",
         "Angle", "Ctr", "PValue", "RoiCircle", "RoiBox", "Select", "Delete", "Japan", "English",
         "Binary", "ReverseOff", "Reverse", "ForwardOff", "Forward", "Clear", "ReloadOff",
         "Reload", "FolderOff", "Folder", "FolderOpenOff", "FolderOpen", "ZoomCubic", "Zoom100",
         "ZoomLife", "ImgInfoOff", "ImgInfo", "CineStopOff", "CineStop", "Save", "Copy", "Print",
         "SaveText"]


def bmp_bytes(rows):
    """A 24-bit BI_RGB bitmap file: bottom-up rows of B, G, R, padded to 4 bytes."""
    h = len(rows)
    w = len(rows[0])
    stride = (w * 3 + 3) & ~3
    data = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for (r, g, b) in row:
            line += bytes((b, g, r))
        line += b"\0" * (stride - len(line))
        data += line
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(data), 0, 0, 14 + 40)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 3780, 3780, 0, 0)
    return header + info + bytes(data)


def write_png(path, rows):
    h, w = len(rows), len(rows[0])
    raw = b"".join(b"\0" + bytes(c for px in row for c in px) for row in rows)

    def chunk(tag, body):
        return struct.pack(">I", len(body)) + tag + body + struct.pack(">I", zlib.crc32(tag + body))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def preview(path, pictures, zoom=4, cols=8):
    cell = SIZE * zoom + 6
    nrows = (len(pictures) + cols - 1) // cols
    sheet = [[(255, 255, 255)] * (cols * cell) for _ in range(nrows * cell)]
    for i, rows in enumerate(pictures):
        ox, oy = (i % cols) * cell + 3, (i // cols) * cell + 3
        for y in range(SIZE * zoom):
            src = rows[y // zoom]
            line = sheet[oy + y]
            for x in range(SIZE * zoom):
                line[ox + x] = src[x // zoom]
    write_png(path, sheet)


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    outdir = os.path.join(here, "..", "data", "Icon")
    sheet = None
    args = list(argv[1:])
    while args:
        a = args.pop(0)
        if a == "--preview" and args:
            sheet = args.pop(0)
        elif a.startswith("-"):
            sys.stderr.write(__doc__)
            return 2
        else:
            outdir = a
    build()
    missing = [n for n in NAMES if n not in ICONS]
    if missing or len(NAMES) != 55:
        sys.stderr.write("pictures missing: %s\n" % missing)
        return 1
    os.makedirs(outdir, exist_ok=True)
    pictures = []
    for name in NAMES:
        rows = ICONS[name].pixels()
        pictures.append(rows)
        tmp = os.path.join(outdir, name + ".bmp.tmp")
        with open(tmp, "wb") as f:
            f.write(bmp_bytes(rows))
        os.replace(tmp, os.path.join(outdir, name + ".bmp"))
    if sheet:
        preview(sheet, pictures)
    print("%d pictures written to %s" % (len(NAMES), os.path.normpath(outdir)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
