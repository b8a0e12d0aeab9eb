#!/usr/bin/env python3
"""Draws the skin of the scan window and writes it into res/:

    res/bitmaps/*.bmp   24-bit bottom-up BI_RGB bitmaps (background, buttons, banner)
    res/MorvekScan.ico  the program icon (48/32/16 px true colour, 32/16 px 256 colours)

Only the Python standard library is used; the few texts come from glyphs.py
(see bake_glyphs.py). The output is deterministic, so re-running the script on
an unchanged tree reproduces the committed files byte for byte.

    python3 tools/art/make_art.py [--png DIR]    # --png also writes PNG previews

The geometry below follows the scan window: its dialog template is laid out in
dialog units that come out at 1.5 pixels each with the 9 pt SimSun dialog font
(client area 798 x 581), the chart control is created over the placeholder at
(9, 111) with a 540 x 460 client area inside a 1-pixel border, the labels sit
at x >= 585, y 300..510, and the Start/Stop and Exit buttons at (578, 530) and
(686, 530). The labels paint their own rectangles with the light blue label
brush (225, 233, 254), so the panel behind them must be exactly that colour.
"""
import math
import os
import random
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, HERE)
import art_text as T  # noqa: E402
from glyphs import GLYPHS  # noqa: E402

# ---------------------------------------------------------------- colours
LABEL_BLUE = (225, 233, 254)  # the window's label brush 0xFEE9E1
GOOD_GREEN = (41, 178, 49)  # map cell read without error (0x31B229)
BAD_RED = (255, 101, 66)  # map cell that failed (0x4265FF)
GRID = (179, 185, 207)  # the map's grid lines
WHITE = (255, 255, 255)
PANEL_BORDER = (126, 153, 204)
HEADER_TOP = (62, 112, 190)
HEADER_BOTTOM = (36, 78, 150)
BODY_TOP = (208, 219, 238)
BODY_BOTTOM = (180, 197, 227)
TEXT_DARK = (32, 44, 72)

# ---------------------------------------------------------------- geometry
CLIENT_W, CLIENT_H = 800, 583
BANNER_H = 100
CHART_X, CHART_Y, CHART_W, CHART_H = 9, 111, 542, 462  # chart window incl. its border
COLUMN_X0, COLUMN_X1 = 566, 793  # right-hand column
LEGEND_Y0, LEGEND_Y1 = 106, 252
INFO_Y0, INFO_Y1 = 262, 578
HEADER_H = 24
BUTTON_W, BUTTON_H = 94, 28


def lerp(a, b, t):
    return a + (b - a) * t


def mix(c1, c2, t):
    return tuple(int(round(lerp(c1[i], c2[i], t))) for i in range(3))


def clamp01(v):
    return 0.0 if v < 0.0 else 1.0 if v > 1.0 else v


class Canvas:
    """An RGB picture, rows top-down, with the few drawing operations the skin needs."""

    def __init__(self, w, h, color=(0, 0, 0)):
        self.w, self.h = w, h
        self.px = bytearray(bytes(color) * (w * h))

    def get(self, x, y):
        i = (y * self.w + x) * 3
        return tuple(self.px[i:i + 3])

    def put(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            i = (y * self.w + x) * 3
            self.px[i:i + 3] = bytes(c)

    def blend(self, x, y, c, a):
        if a <= 0.0 or not (0 <= x < self.w and 0 <= y < self.h):
            return
        if a >= 1.0:
            self.put(x, y, c)
            return
        i = (y * self.w + x) * 3
        for k in range(3):
            self.px[i + k] = int(round(self.px[i + k] + (c[k] - self.px[i + k]) * a))

    def fill(self, x0, y0, x1, y1, c):
        """Fills [x0, x1) x [y0, y1)."""
        x0, x1 = max(0, x0), min(self.w, x1)
        row = bytes(c) * max(0, x1 - x0)
        for y in range(max(0, y0), min(self.h, y1)):
            i = (y * self.w + x0) * 3
            self.px[i:i + len(row)] = row

    def vgradient(self, x0, y0, x1, y1, top, bottom):
        for y in range(y0, y1):
            t = (y - y0) / max(1, y1 - y0 - 1)
            self.fill(x0, y, x1, y + 1, mix(top, bottom, t))

    def frame(self, x0, y0, x1, y1, c):
        """A 1-pixel outline around [x0, x1) x [y0, y1)."""
        self.fill(x0, y0, x1, y0 + 1, c)
        self.fill(x0, y1 - 1, x1, y1, c)
        self.fill(x0, y0, x0 + 1, y1, c)
        self.fill(x1 - 1, y0, x1, y1, c)

    def paste(self, other, x, y):
        for row in range(other.h):
            if 0 <= y + row < self.h:
                src = other.px[row * other.w * 3:(row + 1) * other.w * 3]
                i = ((y + row) * self.w + x) * 3
                self.px[i:i + len(src)] = src

    def shade(self, x0, y0, x1, y1, coverage, color_at):
        """Blends color_at(x, y) into every pixel by coverage(x, y) (0..1)."""
        for y in range(max(0, y0), min(self.h, y1)):
            for x in range(max(0, x0), min(self.w, x1)):
                a = coverage(x, y)
                if a > 0.0:
                    self.blend(x, y, color_at(x, y), a)


# ---------------------------------------------------------------- shapes
def rounded_rect_cov(x0, y0, x1, y1, r):
    """Coverage of the rounded rectangle [x0, x1] x [y0, y1] (pixel edges)."""
    cx, cy = (x0 + x1) / 2.0, (y0 + y1) / 2.0
    hx, hy = (x1 - x0) / 2.0 - r, (y1 - y0) / 2.0 - r

    def cov(x, y):
        dx = abs(x + 0.5 - cx) - hx
        dy = abs(y + 0.5 - cy) - hy
        outside = math.hypot(max(dx, 0.0), max(dy, 0.0))
        inside = min(max(dx, dy), 0.0)
        return clamp01(0.5 - (outside + inside - r))
    return cov


def ring_cov(cx, cy, r_out, r_in=0.0):
    def cov(x, y):
        d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
        return clamp01(0.5 - (d - r_out)) * (clamp01(0.5 + (d - r_in)) if r_in > 0 else 1.0)
    return cov


def polygon_cov(points, n=4):
    """Supersampled coverage of a convex polygon (either winding)."""
    def inside(px, py):
        sign = 0
        for i in range(len(points)):
            ax, ay = points[i]
            bx, by = points[(i + 1) % len(points)]
            side = (bx - ax) * (py - ay) - (by - ay) * (px - ax)
            if side != 0:
                if sign == 0:
                    sign = 1 if side > 0 else -1
                elif (side > 0) != (sign > 0):
                    return False
        return True

    def cov(x, y):
        hits = 0
        for sy in range(n):
            for sx in range(n):
                if inside(x + (sx + 0.5) / n, y + (sy + 0.5) / n):
                    hits += 1
        return hits / (n * n)
    return cov


def solid(c):
    return lambda x, y: c


# ---------------------------------------------------------------- text
def text_width(style, s):
    return sum(GLYPHS[style][ch][0] for ch in s)


def draw_text(cv, style, s, x, baseline, color, alpha=1.0):
    for ch in s:
        adv, left, top, w, h, data = GLYPHS[style][ch]
        gx, gy = x + left, baseline - top
        for row in range(h):
            for col in range(w):
                v = int(data[(row * w + col) * 2:(row * w + col) * 2 + 2], 16)
                if v:
                    cv.blend(gx + col, gy + row, color, alpha * v / 255.0)
        x += adv
    return x


def draw_text_centered(cv, style, s, cx, baseline, color, alpha=1.0):
    return draw_text(cv, style, s, int(round(cx - text_width(style, s) / 2.0)), baseline, color, alpha)


# ---------------------------------------------------------------- logo
def draw_logo(cv, cx, cy, r):
    """A disk platter with a scanned sector of map cells: the product's mark."""
    # drop shadow
    cv.shade(int(cx - r - 3), int(cy - r - 1), int(cx + r + 5), int(cy + r + 6),
             ring_cov(cx + 1.0, cy + 2.0, r + 0.5), solid((8, 20, 48)))
    # platter: brushed-metal radial shading
    def metal(x, y):
        d = math.hypot(x + 0.5 - cx, y + 0.5 - cy) / r
        ang = math.atan2(y + 0.5 - cy, x + 0.5 - cx)
        sheen = 0.5 + 0.5 * math.cos(2.0 * (ang + 0.8))
        base = lerp(236, 170, d * 0.7) * (0.86 + 0.14 * sheen)
        return (int(base * 0.93), int(base * 0.96), int(min(255, base * 1.02)))
    cv.shade(int(cx - r - 1), int(cy - r - 1), int(cx + r + 2), int(cy + r + 2),
             ring_cov(cx, cy, r), metal)
    # scanned sector: a wedge of green with one red (bad) stretch
    def wedge(start, end, color, r0, r1):
        def cov(x, y):
            dx, dy = x + 0.5 - cx, y + 0.5 - cy
            a = math.atan2(dy, dx)
            if not (start <= a <= end):
                return 0.0
            d = math.hypot(dx, dy)
            return clamp01(0.5 - (d - r1)) * clamp01(0.5 + (d - r0)) * 0.92
        cv.shade(int(cx - r - 1), int(cy - r - 1), int(cx + r + 2), int(cy + r + 2), cov, solid(color))
    wedge(-math.pi, -0.55, GOOD_GREEN, r * 0.34, r * 0.93)
    wedge(-0.55, -0.32, BAD_RED, r * 0.34, r * 0.93)
    # tracks
    for k in range(1, 6):
        rr = r * (0.38 + k * 0.11)
        cv.shade(int(cx - r - 1), int(cy - r - 1), int(cx + r + 2), int(cy + r + 2),
                 lambda x, y, rr=rr: ring_cov(cx, cy, rr + 0.35, rr - 0.35)(x, y) * 0.35,
                 solid((255, 255, 255)))
    # rim and hub
    cv.shade(int(cx - r - 1), int(cy - r - 1), int(cx + r + 2), int(cy + r + 2),
             ring_cov(cx, cy, r, r - max(1.0, r / 24.0)), solid((98, 112, 140)))
    cv.shade(int(cx - r), int(cy - r), int(cx + r), int(cy + r),
             ring_cov(cx, cy, r * 0.24), solid((120, 132, 156)))
    cv.shade(int(cx - r), int(cy - r), int(cx + r), int(cy + r),
             ring_cov(cx, cy, r * 0.13), solid((232, 236, 244)))
    # read head arm across the platter
    arm_w = max(1.2, r * 0.09)
    x0, y0 = cx + r * 0.95, cy + r * 0.85
    x1, y1 = cx + r * 0.28, cy - r * 0.30
    nx, ny = (y1 - y0), -(x1 - x0)
    n = math.hypot(nx, ny)
    nx, ny = nx / n * arm_w, ny / n * arm_w
    cv.shade(int(cx - r), int(cy - r), int(cx + r + 2), int(cy + r + 2),
             polygon_cov([(x0 - nx, y0 - ny), (x0 + nx, y0 + ny), (x1 + nx * 0.6, y1 + ny * 0.6),
                          (x1 - nx * 0.6, y1 - ny * 0.6)]),
             solid((58, 66, 86)))
    cv.shade(int(x0 - r * 0.2), int(y0 - r * 0.2), int(x0 + r * 0.2), int(y0 + r * 0.2),
             ring_cov(x0, y0, r * 0.14), solid((70, 80, 102)))


# ---------------------------------------------------------------- banner
def make_banner():
    cv = Canvas(CLIENT_W, BANNER_H)
    for y in range(BANNER_H):
        for x in range(CLIENT_W):
            t = x / (CLIENT_W - 1)
            base = mix((14, 38, 86), (30, 88, 168), t ** 0.8)
            v = y / (BANNER_H - 1)
            glow = 0.16 * (1.0 - v) ** 2  # soft light from above
            cv.put(x, y, mix(base, (255, 255, 255), glow))
    # glossy upper band
    for y in range(0, 44):
        a = 0.07 * (1.0 - y / 44.0)
        for x in range(CLIENT_W):
            cv.blend(x, y, (255, 255, 255), a)
    # a field of map cells fading in towards the right-hand side
    rng = random.Random(20071201)
    pitch, size = 12, 9
    for row in range(2, 8):
        for col in range(0, 32):
            x = 410 + col * pitch
            y = 8 + row * pitch
            t = (x - 410) / (32 * pitch)
            a = 0.05 + 0.33 * t
            if rng.random() < 0.25 + 0.6 * t:
                color = BAD_RED if rng.random() < 0.05 else GOOD_GREEN
            else:
                color = (200, 215, 240)
                a *= 0.5
            for yy in range(y, y + size):
                for xx in range(x, x + size):
                    cv.blend(xx, yy, color, a)
    draw_logo(cv, 54, 50, 37)
    # product name, English name and tagline
    draw_text(cv, "title", T.PRODUCT_CN, 112, 52, (4, 16, 44), 0.45)
    draw_text(cv, "title", T.PRODUCT_CN, 110, 50, WHITE)
    x = draw_text(cv, "subtitle", T.PRODUCT_EN, 112, 78, (174, 206, 246))
    cv.fill(x + 12, 67, x + 13, 80, (110, 150, 210))
    draw_text(cv, "subtitle", T.TAGLINE, x + 25, 78, (214, 228, 250))
    w = text_width("version", T.VERSION)
    draw_text(cv, "version", T.VERSION, CLIENT_W - 14 - w, 90, (180, 204, 240))
    # accent line where the banner meets the window body
    cv.fill(0, BANNER_H - 3, CLIENT_W, BANNER_H - 2, (20, 50, 104))
    for x in range(CLIENT_W):
        t = x / (CLIENT_W - 1)
        cv.put(x, BANNER_H - 2, mix((76, 188, 84), (90, 170, 240), t))
        cv.put(x, BANNER_H - 1, mix((52, 150, 62), (60, 130, 210), t))
    return cv


# ---------------------------------------------------------------- background
def draw_card_header(cv, x0, y0, x1, title):
    cv.vgradient(x0, y0, x1, y0 + HEADER_H, HEADER_TOP, HEADER_BOTTOM)
    cv.fill(x0, y0, x1, y0 + 1, (110, 152, 220))
    cv.fill(x0 + 10, y0 + 7, x0 + 13, y0 + HEADER_H - 7, (120, 210, 120))
    draw_text(cv, "header", title, x0 + 19, y0 + 17, WHITE)


def draw_shadow(cv, x0, y0, x1, y1):
    for d, a in ((1, 0.22), (2, 0.12), (3, 0.05)):
        cv.shade(x0 + d, y1 + d - 1, x1 + d, y1 + d, lambda x, y: a, solid((40, 60, 100)))
        cv.shade(x1 + d - 1, y0 + d, x1 + d, y1 + d, lambda x, y: a, solid((40, 60, 100)))


def draw_legend_cell(cv, x, y, fill, edge):
    """A map cell as the chart paints it: 9 x 9 fill, dark right and bottom edge."""
    cv.fill(x, y, x + 10, y + 10, WHITE)
    cv.fill(x, y, x + 10, y + 1, GRID)
    cv.fill(x, y, x + 1, y + 10, GRID)
    if fill is not None:
        cv.fill(x, y, x + 9, y + 9, fill)
        cv.fill(x + 9, y, x + 10, y + 10, edge)
        cv.fill(x, y + 9, x + 10, y + 10, edge)
    cv.frame(x - 3, y - 3, x + 13, y + 13, (150, 164, 196))


def make_background(banner):
    cv = Canvas(CLIENT_W, CLIENT_H)
    cv.paste(banner, 0, 0)
    cv.vgradient(0, BANNER_H, CLIENT_W, CLIENT_H, BODY_TOP, BODY_BOTTOM)

    # The map: a raised white card whose inside is what the chart shows before
    # its first cell, so the window looks the same before and after Start.
    draw_shadow(cv, CHART_X - 5, CHART_Y - 5, CHART_X + CHART_W + 5, CHART_Y + CHART_H + 5)
    cv.fill(CHART_X - 5, CHART_Y - 5, CHART_X + CHART_W + 5, CHART_Y + CHART_H + 5, (246, 249, 255))
    cv.frame(CHART_X - 5, CHART_Y - 5, CHART_X + CHART_W + 5, CHART_Y + CHART_H + 5, PANEL_BORDER)
    cv.frame(CHART_X - 1, CHART_Y - 1, CHART_X + CHART_W + 1, CHART_Y + CHART_H + 1, (200, 210, 232))
    cv.frame(CHART_X, CHART_Y, CHART_X + CHART_W, CHART_Y + CHART_H, (100, 110, 130))
    ox, oy = CHART_X + 1, CHART_Y + 1  # the chart's client origin
    cv.fill(ox, oy, ox + 540, oy + 460, WHITE)
    for gy in range(0, 460, 10):
        cv.fill(ox, oy + gy, ox + 538, oy + gy + 1, GRID)
    for gx in range(0, 540, 10):
        cv.fill(ox + gx, oy + 1, ox + gx + 1, oy + 459, GRID)

    # Legend card.
    draw_shadow(cv, COLUMN_X0, LEGEND_Y0, COLUMN_X1, LEGEND_Y1)
    cv.fill(COLUMN_X0, LEGEND_Y0, COLUMN_X1, LEGEND_Y1, (246, 249, 255))
    draw_card_header(cv, COLUMN_X0, LEGEND_Y0, COLUMN_X1, T.LEGEND_TITLE)
    cv.frame(COLUMN_X0, LEGEND_Y0, COLUMN_X1, LEGEND_Y1, PANEL_BORDER)
    rows = ((GOOD_GREEN, (0, 0, 0), T.LEGEND_GOOD), (BAD_RED, (0, 0, 0), T.LEGEND_BAD),
            (None, None, T.LEGEND_BLANK))
    y = LEGEND_Y0 + HEADER_H + 14
    for fill, edge, label in rows:
        draw_legend_cell(cv, COLUMN_X0 + 17, y, fill, edge)
        draw_text(cv, "body", label, COLUMN_X0 + 40, y + 10, TEXT_DARK)
        y += 25
    cv.fill(COLUMN_X0 + 12, y - 2, COLUMN_X1 - 12, y - 1, (214, 222, 238))
    draw_text(cv, "body", T.LEGEND_NOTE, COLUMN_X0 + 14, y + 17, (84, 98, 130))

    # Information panel: the labels, the disk list and the buttons live on it.
    draw_shadow(cv, COLUMN_X0, INFO_Y0, COLUMN_X1, INFO_Y1)
    cv.fill(COLUMN_X0, INFO_Y0, COLUMN_X1, INFO_Y1, LABEL_BLUE)
    draw_card_header(cv, COLUMN_X0, INFO_Y0, COLUMN_X1, T.INFO_TITLE)
    cv.frame(COLUMN_X0, INFO_Y0, COLUMN_X1, INFO_Y1, PANEL_BORDER)
    for sep in (473, 520):
        cv.fill(COLUMN_X0 + 12, sep, COLUMN_X1 - 12, sep + 1, (182, 198, 236))
        cv.fill(COLUMN_X0 + 12, sep + 1, COLUMN_X1 - 12, sep + 2, (244, 247, 255))
    return cv


# ---------------------------------------------------------------- buttons
BUTTON_KINDS = {
    # kind: (top colour, bottom colour, border, caption, icon)
    "start": ((108, 200, 96), (40, 140, 48), (28, 102, 36), T.BUTTON_START, "play"),
    "stop": ((246, 128, 96), (206, 62, 38), (150, 40, 24), T.BUTTON_STOP, "square"),
    "exit": ((120, 150, 204), (58, 90, 156), (38, 62, 118), T.BUTTON_EXIT, "power"),
}


def draw_icon(cv, kind, cx, cy, color):
    if kind == "play":
        cv.shade(int(cx - 6), int(cy - 7), int(cx + 7), int(cy + 8),
                 polygon_cov([(cx - 4.5, cy - 5.5), (cx + 5.5, cy), (cx - 4.5, cy + 5.5)]), solid(color))
    elif kind == "square":
        cv.shade(int(cx - 6), int(cy - 6), int(cx + 7), int(cy + 7),
                 rounded_rect_cov(cx - 4.5, cy - 4.5, cx + 4.5, cy + 4.5, 1.2), solid(color))
    elif kind == "power":
        def cov(x, y):
            dx, dy = x + 0.5 - cx, y + 0.5 - cy
            ring = ring_cov(cx, cy, 6.0, 4.2)(x, y)
            if dy < 0 and abs(dx) < 3.2:  # the gap at the top of the ring
                ring = 0.0
            bar = clamp01(0.5 - (abs(dx) - 0.9)) * clamp01(0.5 - (abs(dy + 3.5) - 3.8))
            return max(ring, bar)
        cv.shade(int(cx - 8), int(cy - 9), int(cx + 8), int(cy + 8), cov, solid(color))


def make_button(kind, state):
    """state: 'normal', 'hover' or 'down'. The corners show the panel behind the button."""
    top, bottom, border, caption, icon = BUTTON_KINDS[kind]
    if state == "hover":
        top, bottom = mix(top, WHITE, 0.22), mix(bottom, WHITE, 0.12)
    elif state == "down":
        top, bottom = mix(bottom, (0, 0, 0), 0.12), mix(top, (0, 0, 0), 0.08)
    cv = Canvas(BUTTON_W, BUTTON_H, LABEL_BLUE)
    body = rounded_rect_cov(0, 0, BUTTON_W, BUTTON_H, 5.0)
    inner = rounded_rect_cov(1, 1, BUTTON_W - 1, BUTTON_H - 1, 4.0)
    cv.shade(0, 0, BUTTON_W, BUTTON_H, body, solid(border))

    def face(x, y):
        t = (y - 1) / (BUTTON_H - 3)
        c = mix(top, bottom, clamp01(t))
        if state != "down" and y < BUTTON_H // 2:  # glassy upper half
            c = mix(c, WHITE, 0.18 * (1.0 - y / (BUTTON_H / 2.0)))
        return c
    cv.shade(0, 0, BUTTON_W, BUTTON_H, inner, face)
    # inner highlight line along the top edge
    if state == "normal":
        for x in range(5, BUTTON_W - 5):
            cv.blend(x, 1, WHITE, 0.45)
    elif state == "down":  # a pressed face: shade along the top inside edge
        for x in range(4, BUTTON_W - 4):
            cv.blend(x, 1, (0, 0, 0), 0.30)
            cv.blend(x, 2, (0, 0, 0), 0.12)
    if state == "hover":  # a warm inner rim, the usual "hot" cue, so hover reads at a glance
        rim = rounded_rect_cov(2.5, 2.5, BUTTON_W - 2.5, BUTTON_H - 2.5, 3.0)
        cv.shade(0, 0, BUTTON_W, BUTTON_H,
                 lambda x, y: max(0.0, inner(x, y) - rim(x, y)) * 0.95, solid((255, 204, 72)))
    shift = 1 if state == "down" else 0
    w = text_width("button", caption) + 18
    x0 = (BUTTON_W - w) // 2 + shift
    baseline = 19 + shift
    draw_icon(cv, icon, x0 + 6.5, 13.5 + shift, (0, 0, 0))  # shadow pass
    draw_text(cv, "button", caption, x0 + 18, baseline + 1, (0, 0, 0), 0.28)
    draw_icon(cv, icon, x0 + 6.0, 13.0 + shift, WHITE)
    draw_text(cv, "button", caption, x0 + 18, baseline, WHITE)
    return cv


# ---------------------------------------------------------------- icon
def make_icon_rgba(size):
    """The logo on a transparent ground, as rows of (r, g, b, a), top-down."""
    scale = 4  # draw large on black and on white, recover alpha from the difference
    big = size * scale
    on_black, on_white = Canvas(big, big, (0, 0, 0)), Canvas(big, big, WHITE)
    for cv in (on_black, on_white):
        draw_logo(cv, big * 0.45, big * 0.44, big * 0.40)
    out = []
    for y in range(size):
        row = []
        for x in range(size):
            sb = [0, 0, 0]
            sw = [0, 0, 0]
            for yy in range(y * scale, (y + 1) * scale):
                for xx in range(x * scale, (x + 1) * scale):
                    b, w = on_black.get(xx, yy), on_white.get(xx, yy)
                    for k in range(3):
                        sb[k] += b[k]
                        sw[k] += w[k]
            n = scale * scale
            sb = [v / n for v in sb]
            sw = [v / n for v in sw]
            alpha = 1.0 - sum(sw[k] - sb[k] for k in range(3)) / (3 * 255.0)
            alpha = clamp01(alpha)
            if alpha > 0.0:
                rgb = tuple(int(round(clamp01(sb[k] / 255.0 / alpha) * 255)) for k in range(3))
            else:
                rgb = (0, 0, 0)
            row.append(rgb + (int(round(alpha * 255)),))
        out.append(row)
    return out


def palette_256():
    pal = []
    for r in range(6):
        for g in range(6):
            for b in range(6):
                pal.append((r * 51, g * 51, b * 51))
    for i in range(40):
        v = int(round(i * 255 / 39))
        pal.append((v, v, v))
    return pal


def ico_image_32(rgba):
    size = len(rgba)
    hdr = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    bits = bytearray()
    for row in reversed(rgba):
        for r, g, b, a in row:
            bits += bytes((b, g, r, a))
    return hdr + bytes(bits) + and_mask(rgba)


def ico_image_8(rgba):
    size = len(rgba)
    pal = palette_256()
    hdr = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in pal)
    bits = bytearray()
    for row in reversed(rgba):
        for r, g, b, a in row:
            if a < 128:
                bits.append(0)
                continue
            best = min(range(256), key=lambda i: (pal[i][0] - r) ** 2 + (pal[i][1] - g) ** 2 +
                       (pal[i][2] - b) ** 2)
            bits.append(best)
        while len(bits) % 4:
            bits.append(0)
    return hdr + table + bytes(bits) + and_mask(rgba)


def and_mask(rgba):
    size = len(rgba)
    stride = ((size + 31) // 32) * 4
    out = bytearray()
    for row in reversed(rgba):
        line = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                line[x // 8] |= 0x80 >> (x % 8)
        out += line
    return bytes(out)


def write_ico(path, images):
    """images: list of (size, bits per pixel, encoded image)."""
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    blobs = b""
    for size, bpp, blob in images:
        colors = 0 if bpp >= 8 else 1 << bpp
        data += struct.pack("<BBBBHHII", size % 256, size % 256, colors, 0, 1, bpp, len(blob), offset)
        offset += len(blob)
        blobs += blob
    with open(path, "wb") as f:
        f.write(data + blobs)


# ---------------------------------------------------------------- files
def bmp_bytes(cv):
    stride = (cv.w * 3 + 3) & ~3
    size = stride * cv.h
    out = bytearray(struct.pack("<2sIHHI", b"BM", 54 + size, 0, 0, 54))
    out += struct.pack("<IiiHHIIiiII", 40, cv.w, cv.h, 1, 24, 0, size, 3780, 3780, 0, 0)
    pad = bytes(stride - cv.w * 3)
    for y in range(cv.h - 1, -1, -1):
        row = cv.px[y * cv.w * 3:(y + 1) * cv.w * 3]
        bgr = bytearray(len(row))
        bgr[0::3], bgr[1::3], bgr[2::3] = row[2::3], row[1::3], row[0::3]
        out += bgr + pad
    return bytes(out)


def png_bytes(cv):
    raw = b"".join(b"\x00" + bytes(cv.px[y * cv.w * 3:(y + 1) * cv.w * 3]) for y in range(cv.h))

    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", cv.w, cv.h, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def build_all():
    """file name in res/bitmaps -> picture"""
    banner = make_banner()
    images = {
        "background.bmp": make_background(banner),
        "banner.bmp": banner,
    }
    for kind in ("start", "stop", "exit"):
        images["%s.bmp" % kind] = make_button(kind, "normal")
        images["%s_hover.bmp" % kind] = make_button(kind, "hover")
        images["%s_down.bmp" % kind] = make_button(kind, "down")
    return images


def main(argv):
    png_dir = None
    if len(argv) >= 2 and argv[0] == "--png":
        png_dir = argv[1]
        os.makedirs(png_dir, exist_ok=True)
    out_dir = os.path.join(ROOT, "res", "bitmaps")
    os.makedirs(out_dir, exist_ok=True)
    for name, cv in build_all().items():
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(bmp_bytes(cv))
        if png_dir:
            with open(os.path.join(png_dir, name[:-4] + ".png"), "wb") as f:
                f.write(png_bytes(cv))
    icons = {size: make_icon_rgba(size) for size in (48, 32, 16)}
    write_ico(os.path.join(ROOT, "res", "MorvekScan.ico"),
              [(48, 32, ico_image_32(icons[48])), (32, 32, ico_image_32(icons[32])),
               (16, 32, ico_image_32(icons[16])), (32, 8, ico_image_8(icons[32])),
               (16, 8, ico_image_8(icons[16]))])
    if png_dir:
        for size, rgba in icons.items():
            cv = Canvas(size, size, (255, 255, 255))
            for y, row in enumerate(rgba):
                for x, (r, g, b, a) in enumerate(row):
                    cv.blend(x, y, (r, g, b), a / 255.0)
            with open(os.path.join(png_dir, "icon%d.png" % size), "wb") as f:
                f.write(png_bytes(cv))


if __name__ == "__main__":
    main(sys.argv[1:])
