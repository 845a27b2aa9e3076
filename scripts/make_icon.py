#!/usr/bin/env python3
"""Draws Clarivo's icon, desktop/clarivo.svg and the 256-pixel desktop/clarivo.png, from one set of shapes:
a dark tile, the round noise display, and a waveform that is rough on the left and clean on the right.
Run it again after changing a shape; it needs nothing beyond Python."""
import math
import os
import random
import struct
import zlib

SIZE = 256
TILE = (16, 16, 240, 240, 48)  # left, top, right, bottom, corner radius
TOP, BOTTOM = (0x2A, 0x4A, 0x78), (0x0F, 0x1C, 0x2E)
DISPLAY = (128, 128, 84)  # centre x, centre y, radius
DISPLAY_FILL, RING, RING_WIDTH = (0x05, 0x08, 0x0D), (0x7F, 0xB8, 0xFF), 8
WAVE_FROM, WAVE_TO, WAVE_WIDTH, WAVE = 64, 192, 6, (0xFF, 0xFF, 0xFF)

rng = random.Random(5)
KNOTS = [rng.uniform(-1, 1) for _ in range(40)]


def wave(x):
    clean = 128 - 34 * math.sin(2 * math.pi * (x - WAVE_FROM) / 64)
    if x >= 128:
        return clean
    k = (x - WAVE_FROM) / 4
    i = min(int(k), len(KNOTS) - 2)
    jitter = KNOTS[i] + (KNOTS[i + 1] - KNOTS[i]) * (k - i)
    return clean + 16 * jitter * (128 - x) / 64


def tile_contains(x, y):
    left, top, right, bottom, r = TILE
    cx = min(max(x, left + r), right - r)
    cy = min(max(y, top + r), bottom - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r and left <= x <= right and top <= y <= bottom


def colour_at(x, y):
    """The colour of one point, or None outside the tile."""
    if not tile_contains(x, y):
        return None
    cx, cy, r = DISPLAY
    d = math.hypot(x - cx, y - cy)
    if d > r + RING_WIDTH / 2:
        t = (y - TILE[1]) / (TILE[3] - TILE[1])
        return tuple(round(a + (b - a) * t) for a, b in zip(TOP, BOTTOM))
    if d > r - RING_WIDTH / 2:
        return RING
    if WAVE_FROM <= x <= WAVE_TO:
        slope = (wave(min(x + 0.5, WAVE_TO)) - wave(max(x - 0.5, WAVE_FROM))) / 1.0
        if abs(y - wave(x)) / math.sqrt(1 + slope * slope) <= WAVE_WIDTH / 2:
            return WAVE
    return DISPLAY_FILL


def png(path):
    samples = 4
    rows = bytearray()
    for py in range(SIZE):
        rows.append(0)
        for px in range(SIZE):
            total, covered = [0, 0, 0], 0
            for sy in range(samples):
                for sx in range(samples):
                    c = colour_at(px + (sx + 0.5) / samples, py + (sy + 0.5) / samples)
                    if c is not None:
                        covered += 1
                        total = [t + v for t, v in zip(total, c)]
            if covered:
                rows.extend(round(t / covered) for t in total)
                rows.append(round(255 * covered / samples ** 2))
            else:
                rows.extend((0, 0, 0, 0))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(bytes(rows), 9)))
        f.write(chunk(b"IEND", b""))


def svg(path):
    hexc = lambda c: "#%02x%02x%02x" % c
    left, top, right, bottom, r = TILE
    cx, cy, dr = DISPLAY
    points = " ".join("%g,%.1f" % (x / 2, wave(x / 2)) for x in range(2 * WAVE_FROM, 2 * WAVE_TO + 1))
    with open(path, "w") as f:
        f.write(f'''<svg xmlns="http://www.w3.org/2000/svg" width="{SIZE}" height="{SIZE}" viewBox="0 0 {SIZE} {SIZE}">
  <defs>
    <linearGradient id="tile" x1="0" y1="0" x2="0" y2="1">
      <stop offset="0" stop-color="{hexc(TOP)}"/>
      <stop offset="1" stop-color="{hexc(BOTTOM)}"/>
    </linearGradient>
    <clipPath id="display"><circle cx="{cx}" cy="{cy}" r="{dr}"/></clipPath>
  </defs>
  <rect x="{left}" y="{top}" width="{right - left}" height="{bottom - top}" rx="{r}" fill="url(#tile)"/>
  <circle cx="{cx}" cy="{cy}" r="{dr}" fill="{hexc(DISPLAY_FILL)}" stroke="{hexc(RING)}" stroke-width="{RING_WIDTH}"/>
  <polyline clip-path="url(#display)" points="{points}" fill="none" stroke="{hexc(WAVE)}" stroke-width="{WAVE_WIDTH}"
            stroke-linejoin="round"/>
</svg>
''')


if __name__ == "__main__":
    here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "desktop")
    svg(os.path.join(here, "clarivo.svg"))
    png(os.path.join(here, "clarivo.png"))
