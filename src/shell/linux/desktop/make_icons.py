#!/usr/bin/env python3
"""Draws the desktop icon for the freedesktop icon theme: PNGs in the usual
sizes and a scalable SVG, from the same drawing as the Windows icons. The
results are committed (a few KB), so a build needs no Python.

    python3 make_icons.py    # rewrites icons/ beside this script, laid out as in hicolor
"""

import importlib.util
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SIZES = [16, 22, 24, 32, 48, 64, 128, 256]
NAME = "org.varnholt.Varnholt"


def windows_icons():
    path = os.path.join(HERE, "..", "..", "win32", "icons", "make_icons.py")
    spec = importlib.util.spec_from_file_location("make_windows_icons", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def svg_text(icons, n=256):
    page, bars = icons.layout(n)
    left, top, right, bottom, radius = page
    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{n}" height="{n}" viewBox="0 0 {n} {n}">',
           '<defs><linearGradient id="page" x1="0" y1="0" x2="0" y2="1">'
           '<stop offset="0" stop-color="#272d3c"/><stop offset="1" stop-color="#171c25"/>'
           '</linearGradient></defs>',
           f'<rect x="{left}" y="{top}" width="{right - left}" height="{bottom - top}" '
           f'rx="{radius:g}" fill="url(#page)"/>']
    for x0, y0, x1, y1, heat in bars:
        r, g, b = (round(v) for v in icons.heat_colour(heat))
        out.append(f'<rect x="{x0}" y="{y0}" width="{x1 - x0}" height="{y1 - y0}" '
                   f'rx="{(y1 - y0) / 2:g}" fill="#{r:02x}{g:02x}{b:02x}"/>')
    out.append("</svg>")
    return "\n".join(out) + "\n"


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main(outdir):
    icons = windows_icons()
    for n in SIZES:
        write(os.path.join(outdir, f"{n}x{n}", "apps", NAME + ".png"), icons.png_bytes(icons.render(n)))
    write(os.path.join(outdir, "scalable", "apps", NAME + ".svg"), svg_text(icons).encode())


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "icons"))
