#!/usr/bin/env python3
"""Draws the program's icons: a dark code page whose lines glow from cool
blue to hot red. Writes varnholt.ico (large, up to 256 px) and
varnholt_small.ico (title bar and taskbar sizes) beside this script.

Pure standard library, so the icons can be redrawn anywhere:
    python3 make_icons.py
"""

import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

# Heat ramp, cold to hot.
RAMP = [
    (0.00, (0x3A, 0x6F, 0xD8)),
    (0.35, (0x2B, 0xB3, 0xA3)),
    (0.60, (0xF2, 0xC2, 0x2E)),
    (0.80, (0xF5, 0x86, 0x1F)),
    (1.00, (0xE5, 0x32, 0x2A)),
]

# (indent in steps, length as a share of the inner width, heat 0..1)
LINES_FULL = [(0, 0.58, 0.15), (1, 0.62, 0.55), (2, 0.52, 1.00),
              (2, 0.60, 0.80), (1, 0.45, 0.35), (0, 0.30, 0.05)]
LINES_SMALL = [(0, 0.62, 0.20), (1, 0.66, 1.00), (1, 0.56, 0.70), (0, 0.40, 0.10)]


def heat_colour(t):
    for (t0, c0), (t1, c1) in zip(RAMP, RAMP[1:]):
        if t <= t1:
            f = (t - t0) / (t1 - t0)
            return tuple(a + (b - a) * f for a, b in zip(c0, c1))
    return RAMP[-1][1]


def inside_round_rect(x, y, left, top, right, bottom, radius):
    if x < left or x > right or y < top or y > bottom:
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def layout(n):
    """Shapes in final-pixel units, snapped so that small sizes stay crisp."""
    margin = max(1, round(n / 16))
    inner = n - 2 * margin
    lines = LINES_SMALL if n < 32 else LINES_FULL
    bar = max(2, round(n * (0.07 if n >= 32 else 0.125)))
    gap = max(1, round(n * (0.058 if n >= 32 else 0.0625)))
    block = len(lines) * bar + (len(lines) - 1) * gap
    top = margin + (inner - block) // 2
    pad = max(2, round(inner * 0.14))
    step = max(1, round(inner * 0.09))
    shapes = []
    for i, (indent, length, heat) in enumerate(lines):
        y0 = top + i * (bar + gap)
        x0 = margin + pad + indent * step
        x1 = min(margin + inner - pad, x0 + max(bar, round((inner - 2 * pad) * length)))
        shapes.append((x0, y0, x1, y0 + bar, heat))
    page = (margin, margin, n - margin, n - margin, max(1.0, n * 0.19))
    return page, shapes


def render(n):
    """RGBA rows, not premultiplied."""
    ss = max(2, min(8, 512 // n))
    page, bars = layout(n)
    rows = []
    for py in range(n):
        row = []
        for px in range(n):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(ss):
                for sx in range(ss):
                    x = px + (sx + 0.5) / ss
                    y = py + (sy + 0.5) / ss
                    if not inside_round_rect(x, y, *page):
                        continue
                    shade = y / n
                    colour = (0x27 - 0x10 * shade, 0x2D - 0x11 * shade, 0x3C - 0x17 * shade)
                    for x0, y0, x1, y1, heat in bars:
                        if inside_round_rect(x, y, x0, y0, x1, y1, (y1 - y0) / 2):
                            colour = heat_colour(heat)
                            break
                    acc[0] += colour[0]
                    acc[1] += colour[1]
                    acc[2] += colour[2]
                    acc[3] += 1.0
            if acc[3] == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((round(acc[0] / acc[3]), round(acc[1] / acc[3]),
                            round(acc[2] / acc[3]), round(255 * acc[3] / (ss * ss))))
        rows.append(row)
    return rows


def png_bytes(rows):
    n = len(rows)
    raw = b"".join(b"\0" + bytes(v for pixel in row for v in pixel) for row in rows)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", n, n, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def bmp_bytes(rows):
    """32-bit DIB as icons store it: double height, bottom-up, AND mask."""
    n = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for r, g, b, a in row)
    mask_stride = ((n + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + pixels + bytes(mask)


def write_ico(path, sizes):
    images = []
    for n in sizes:
        rows = render(n)
        images.append((n, png_bytes(rows) if n >= 256 else bmp_bytes(rows)))
    offset = 6 + 16 * len(images)
    out = struct.pack("<HHH", 0, 1, len(images))
    for n, data in images:
        out += struct.pack("<BBBBHHII", n % 256, n % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, data in images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    write_ico(os.path.join(HERE, "varnholt.ico"), [256, 64, 48, 40, 32, 24, 20, 16])
    write_ico(os.path.join(HERE, "varnholt_small.ico"), [32, 24, 20, 16])
