#!/usr/bin/env python3
"""Draws the program's pictures into Source/app/artwork (8-bit RGBA PNGs).
Run by hand when the artwork changes; the build compiles the PNG files in.
Pure Python so that it needs nothing beyond the interpreter."""
import math
import os
import random
import struct
import sys
import zlib

OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "Source", "app", "artwork")


def write_png(path, width, height, pixels):
    rows = b"".join(b"\x00" + bytes(pixels[y * width * 4:(y + 1) * width * 4]) for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff)

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(rows, 9)))
        f.write(chunk(b"IEND", b""))


class Canvas:
    def __init__(self, width, height):
        self.w, self.h = width, height
        self.px = [0.0] * (width * height * 4)  # premultiplied-free RGBA, 0..255

    def blend(self, x, y, rgb, alpha):
        if alpha <= 0.0:
            return
        i = (y * self.w + x) * 4
        p = self.px
        da = p[i + 3] / 255.0
        oa = alpha + da * (1.0 - alpha)
        for c in range(3):
            p[i + c] = (rgb[c] * alpha + p[i + c] * da * (1.0 - alpha)) / oa if oa > 0 else 0.0
        p[i + 3] = oa * 255.0

    def shade(self, fn):
        """fn(x, y) -> (rgb, alpha) or None, laid over what is there."""
        for y in range(self.h):
            for x in range(self.w):
                r = fn(x + 0.5, y + 0.5)
                if r is not None:
                    self.blend(x, y, r[0], r[1])

    def save(self, name):
        data = [max(0, min(255, int(round(v)))) for v in self.px]
        write_png(os.path.join(OUT, name), self.w, self.h, data)


def picture(name, width, height, fn):
    c = Canvas(width, height)
    c.shade(fn)
    c.save(name)


def coverage(d, radius):
    return max(0.0, min(1.0, radius - d + 0.5))


def grey(v):
    return (v, v, v)


def brushed_rows(height, seed, depth):
    rnd = random.Random(seed)
    rows, v = [], 0.0
    for _ in range(height):
        v = 0.6 * v + 0.4 * rnd.uniform(-1.0, 1.0)
        rows.append(v * depth)
    return rows


def brushed_metal(canvas, base, seed):
    rows = brushed_rows(canvas.h, seed, 10.0)
    rnd = random.Random(seed + 1)
    streak = [rnd.uniform(-3.0, 3.0) for _ in range(canvas.w + canvas.h)]

    def fn(x, y):
        ix, iy = int(x), int(y)
        v = base + rows[iy] + streak[(ix // 7 + iy * 13) % len(streak)] - 12.0 * (y / canvas.h)
        return grey(v), 1.0

    canvas.shade(fn)


def recess(canvas, cx, cy, radius):
    def fn(x, y):
        dx, dy = x - cx, y - cy
        d = math.hypot(dx, dy)
        if d > radius + 8:
            return None
        if d > radius:  # a lip lit from the top left
            light = -(dx + dy) / (d * math.sqrt(2.0))
            return grey(128 + 100 * light), 0.5 * coverage(d, radius + 8) * (1.0 - (d - radius) / 8.0)
        return grey(20), coverage(d, radius)

    canvas.shade(fn)


def panel_background():
    c = Canvas(780, 400)
    brushed_metal(c, 214.0, 11)
    recess(c, 388.0, 130.0, 99.0)
    c.save("panel_background.png")
    return c


def credits_background():
    c = Canvas(780, 400)
    brushed_metal(c, 206.0, 23)
    cx, cy = 390.0, 54.0

    # The logo: a ring with a wave running through it.
    def fn(x, y):
        d = math.hypot(x - cx, y - cy)
        ring = coverage(abs(d - 30.0), 3.0)
        wave = 0.0
        if abs(x - cx) < 27:
            wy = cy + 12.0 * math.sin((x - cx) / 27.0 * math.pi * 2.0) * math.cos((x - cx) / 27.0 * math.pi / 2.0)
            wave = coverage(abs(y - wy), 2.0)
        a = max(ring, wave)
        return ((30, 90, 170), a) if a > 0 else None

    c.shade(fn)
    c.save("credits_background.png")


def toggle_face(on):
    c = Canvas(132, 132)
    cx = cy = 66.0

    def fn(x, y):
        dx, dy = x - cx, y - cy
        d = math.hypot(dx, dy)
        if d > 65.5:
            return None
        if d > 50.0:
            if on:  # a glowing blue ring, brightest at its middle
                glow = 1.0 - abs(d - 57.5) / 8.0
                return (40 + 120 * glow, 120 + 110 * glow, 255), coverage(d, 65.0)
            return grey(48 - 10 * (d - 50.0) / 15.0), coverage(d, 65.0)
        angle = math.atan2(dy, dx)
        v = 178 + 34 * math.cos(2.0 * angle) + 8 * math.sin(d * 1.7) - 30 * (dy / 50.0)
        edge = coverage(d, 48.0)
        return grey(v * edge + 25 * (1.0 - edge)), 1.0

    c.shade(fn)
    return c


def toggle(name, on):
    toggle_face(on).save(name)


def noise_reduction_button(name, on):
    """The controls panel's on/off button: the toggle face with a power sign,
    dark while off, blue while on."""
    c = toggle_face(on)
    cx = cy = 66.0
    colour = (40, 140, 255) if on else (60, 60, 60)

    def fn(x, y):
        dx, dy = x - cx, y - cy
        d = math.hypot(dx, dy)
        ring = coverage(abs(d - 20.0), 3.0) if math.degrees(math.atan2(-dy, abs(dx))) < 60.0 else 0.0
        stem = coverage(abs(dx), 3.0) * (1.0 if -26.0 < dy < -4.0 else 0.0)
        a = max(ring, stem)
        return (colour, a) if a > 0 else None

    c.shade(fn)
    c.save(name)


def large_knob(x, y):
    cx = cy = 117.0
    d = math.hypot(x - cx, y - cy)
    shadow = math.hypot(x - cx - 3.0, y - cy - 5.0)
    if d <= 100.5:
        v = 238 - 40 * (y - (cy - 100)) / 200.0
        return grey(v - (12 if d > 97.0 else 0)), coverage(d, 100.0)
    if shadow < 110.0:
        return grey(0), 0.35 * (1.0 - (shadow - 95.0) / 15.0) if shadow > 95.0 else 0.35
    return None


def small_knob(x, y):
    cx = cy = 27.0
    d = math.hypot(x - cx, y - cy)
    if d > 26.5:
        return None
    if d > 21.0:
        return grey(40), coverage(d, 26.0)
    h = math.hypot(x - cx + 7.0, y - cy + 7.0)
    return grey(235 - 2.2 * h), 1.0


def slider_track(x, y):
    dx = max(0.0, max(4.5 - x, x - 198.5))
    d = math.hypot(dx, y - 4.5)
    return grey(70 + 40 * (y / 9.0)), coverage(d, 4.0)


def slider_thumb(x, y):
    d = math.hypot(x - 11.0, y - 11.0)
    h = math.hypot(x - 8.0, y - 8.0)
    v = 245 - 8.0 * h if d < 9.5 else 90
    return grey(v), coverage(d, 10.5)


def wash_overlay(panel):
    # The panel's own pixels outside a 191-pixel disc, so the square display
    # sits in the recess and reads round.
    c = Canvas(196, 196)
    for y in range(196):
        for x in range(196):
            i = ((32 + y) * panel.w + 290 + x) * 4
            alpha = 1.0 - coverage(math.hypot(x + 0.5 - 98.0, y + 0.5 - 98.0), 95.5)
            c.blend(x, y, panel.px[i:i + 3], alpha)
    c.save("wash_overlay.png")


# The product logo: "Clarivo+" in strokes of our own, so that no font file
# is needed. Each letter is a list of polylines in pixels.
def logo_arc(cx, cy, rx, ry, a0, a1, steps=24):
    return [(cx + rx * math.cos(math.radians(a0 + (a1 - a0) * i / steps)),
             cy - ry * math.sin(math.radians(a0 + (a1 - a0) * i / steps))) for i in range(steps + 1)]


def logo_strokes():
    top, mid, base = 8.0, 17.0, 35.0
    xm = (mid + base) / 2.0
    strokes, x = [], 10.0
    strokes.append(logo_arc(x + 11, (top + base) / 2.0, 11, 13.5, 50, 310, 32))   # C
    x += 27
    strokes.append([(x, top), (x, base)])                                           # l
    x += 9
    strokes.append(logo_arc(x + 8, xm, 8, 9, 0, 360, 32))                           # a
    strokes.append([(x + 16, mid), (x + 16, base)])
    x += 25
    strokes.append([(x, mid), (x, base)])                                           # r
    strokes.append(logo_arc(x + 9, mid + 9, 9, 8, 180, 70, 12))
    x += 18
    strokes.append([(x, mid), (x, base)])                                           # i
    strokes.append([(x, top + 1.5), (x, top + 2.0)])
    x += 8
    strokes.append([(x, mid), (x + 8, base), (x + 16, mid)])                        # v
    x += 22
    strokes.append(logo_arc(x + 9, xm, 9, 9, 0, 360, 32))                           # o
    x += 26
    strokes.append([(x, xm - 4), (x + 16, xm - 4)])                                 # +
    strokes.append([(x + 8, xm - 12), (x + 8, xm + 4)])
    return [(a, b) for line in strokes for a, b in zip(line, line[1:])]


def segment_distance(px, py, a, b):
    ax, ay = a
    dx, dy = b[0] - ax, b[1] - ay
    n = dx * dx + dy * dy
    t = 0.0 if n == 0 else max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / n))
    return math.hypot(px - ax - t * dx, py - ay - t * dy)


def product_logo():
    segments = logo_strokes()

    def fn(x, y):
        d = min(segment_distance(x, y, a, b) for a, b in segments)
        shadow = min(segment_distance(x - 1.0, y - 1.5, a, b) for a, b in segments)
        if d < 3.5:
            return (24 + 20 * (y / 44.0), 70 + 40 * (y / 44.0), 150 + 40 * (y / 44.0)), coverage(d, 2.4)
        if shadow < 3.5:
            return grey(255), 0.6 * coverage(shadow, 2.4)
        return None

    picture("product_logo.png", 187, 44, fn)


# The media window's transport bar: light glyphs on the dark bar.
def transport_glyph(size, inside):
    """A round light button of size pixels with a dark glyph where inside(u, v) holds (u, v in -1..1)."""
    r = size / 2.0

    def fn(x, y):
        d = math.hypot(x - r, y - r)
        if d > r:
            return None
        u, v = (x - r) / r, (y - r) / r
        if inside(u, v):
            return grey(30), coverage(d, r - 0.5)
        return grey(205 - 60 * (v + 1.0) / 2.0), coverage(d, r - 0.5)
    return fn


def triangle(u, v, tip, base, half):
    """Right-pointing triangle from base to tip (u), half-height half at its base."""
    if u < base or u > tip:
        return False
    return abs(v) <= half * (tip - u) / (tip - base)


def play_glyph(u, v):
    return triangle(u, v, 0.55, -0.35, 0.5)


def pause_glyph(u, v):
    return abs(v) < 0.48 and (-0.42 < u < -0.12 or 0.12 < u < 0.42)


def forward_glyph(u, v):
    return triangle(u, v, 0.05, -0.55, 0.42) or triangle(u, v, 0.6, 0.0, 0.42)


def rewind_glyph(u, v):
    return forward_glyph(-u, v)


def bypass_picture(x, y):
    # A power sign: a ring open at the top with a bar through the gap.
    r = 48.0
    d = math.hypot(x - r, y - r)
    if d > r:
        return None
    inner = math.hypot(x - r, y - r - 4.0)
    angle = math.degrees(math.atan2(x - r, -(y - r - 4.0)))
    ring = 17.0 < inner < 27.0 and abs(angle) > 35.0
    bar = abs(x - r) < 5.0 and 14.0 < y < 50.0
    if ring or bar:
        return grey(235), coverage(d, r - 0.5)
    return grey(70 - 30 * y / 96.0), coverage(d, r - 0.5)


def video_toggle_picture(x, y):
    # A film frame over a waveform, 74 x 95.
    if not (2.0 < x < 72.0 and 2.0 < y < 93.0):
        return None
    if 8.0 < x < 66.0 and 10.0 < y < 44.0:
        return (90, 140, 220), 1.0
    wave = 70.0 + 14.0 * math.sin((x - 8.0) / 58.0 * 4.0 * math.pi) * math.sin((x - 8.0) / 58.0 * math.pi)
    if 8.0 < x < 66.0 and abs(y - wave) < 2.5:
        return (32, 110, 226), 1.0
    if (x < 6.0 or x > 68.0) and int(y) % 10 < 5:
        return grey(20), 1.0
    return grey(200), 1.0


def dark_toggle(on):
    def fn(x, y):
        d = math.hypot(x - 12.0, y - 12.0)
        if d > 12.0:
            return None
        if on:
            return (51, 106, 252) if d < 8.0 else grey(40), coverage(d, 11.5)
        return grey(90 if d < 8.0 else 40), coverage(d, 11.5)
    return fn


def transport_pictures():
    picture("transport_play.png", 128, 128, transport_glyph(128, play_glyph))
    picture("transport_pause.png", 128, 128, transport_glyph(128, pause_glyph))
    picture("transport_forward.png", 128, 128, transport_glyph(128, forward_glyph))
    picture("transport_rewind.png", 128, 128, transport_glyph(128, rewind_glyph))
    picture("transport_bypass.png", 96, 96, bypass_picture)
    picture("transport_video.png", 74, 95, video_toggle_picture)
    picture("dark_toggle_on.png", 26, 26, dark_toggle(True))
    picture("dark_toggle_off.png", 26, 26, dark_toggle(False))


if __name__ == "__main__":
    os.makedirs(OUT, exist_ok=True)
    panel = panel_background()
    credits_background()
    toggle("toggle_on.png", True)
    toggle("toggle_off.png", False)
    picture("knob_large.png", 234, 234, large_knob)
    picture("knob_small.png", 54, 54, small_knob)
    picture("slider_track.png", 203, 9, slider_track)
    picture("slider_thumb.png", 22, 22, slider_thumb)
    wash_overlay(panel)
    product_logo()
    noise_reduction_button("nr_button_off.png", False)
    noise_reduction_button("nr_button_on.png", True)
    transport_pictures()
