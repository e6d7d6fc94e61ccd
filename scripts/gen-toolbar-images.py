#!/usr/bin/env python3
"""Draws the capture toolbar's button images into resources/Images: 28x26 RGBA line icons, white,
or blue for a selected shape tool. Written with zlib and struct only, so the output is reproducible.

Usage: gen-toolbar-images.py [output folder]
"""
import math
import pathlib
import struct
import sys
import zlib

W, H = 28, 26
SAMPLES = 4
WHITE = (255, 255, 255)
BLUE = (17, 145, 254)
HALF = 0.9  # half the stroke width


def seg_dist(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy or 1)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def lines(*segments):
    return lambda x, y: any(seg_dist(x, y, *s) <= HALF for s in segments)


def rect_icon():
    return lines((7, 7, 21, 7), (21, 7, 21, 19), (21, 19, 7, 19), (7, 19, 7, 7))


def ellipse_icon():
    return lambda x, y: abs(math.hypot((x - 14) / 8, (y - 13) / 6) - 1) * 6.5 <= HALF


def arrow_icon():
    return lines((7, 19, 20, 7), (20, 7, 14, 8), (20, 7, 19, 13))


def trans_icon():
    # "A" and a small "文"-like mark: two letters side by side for translation.
    return lines((5, 19, 9, 7), (9, 7, 13, 19), (7, 15, 11, 15), (15, 9, 23, 9), (19, 7, 19, 9),
                 (16, 11, 22, 19), (22, 11, 16, 19))


def export_icon():
    return lines((14, 5, 14, 16), (10, 12, 14, 16), (18, 12, 14, 16), (7, 16, 7, 20), (7, 20, 21, 20),
                 (21, 20, 21, 16))


def cross_icon():
    return lines((8, 7, 20, 19), (20, 7, 8, 19))


def tick_icon():
    return lines((7, 13, 12, 18), (12, 18, 21, 8))


def render(shape, colour):
    rows = []
    for y in range(H):
        row = bytearray([0])
        for x in range(W):
            hits = sum(shape(x + (i + 0.5) / SAMPLES, y + (j + 0.5) / SAMPLES)
                       for i in range(SAMPLES) for j in range(SAMPLES))
            row += bytes(colour) + bytes([round(255 * hits / SAMPLES ** 2)])
        rows.append(bytes(row))
    raw = b"".join(rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


IMAGES = {
    "ScreenCapture_toolbar_rect_ineffect.png": (rect_icon(), WHITE),
    "ScreenCapture_toolbar_rect_effect.png": (rect_icon(), BLUE),
    "ScreenCapture_toolbar_ellipse_ineffect.png": (ellipse_icon(), WHITE),
    "ScreenCapture_toolbar_ellipse_effect.png": (ellipse_icon(), BLUE),
    "ScreenCapture_toolbar_arrow_ineffect.png": (arrow_icon(), WHITE),
    "ScreenCapture_toolbar_arrow_effect.png": (arrow_icon(), BLUE),
    "ScreenCapture_toolbar_ellipse_trans.png": (trans_icon(), WHITE),
    "ScreenCapture_toolbar_export.png": (export_icon(), WHITE),
    "ScreenCapture_toolbar_cross_normal.png": (cross_icon(), WHITE),
    "ScreenCapture_toolbar_tick_normal.png": (tick_icon(), WHITE),
}

if __name__ == "__main__":
    out = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent / "resources" / "Images")
    out.mkdir(parents=True, exist_ok=True)
    for name, (shape, colour) in IMAGES.items():
        (out / name).write_bytes(render(shape, colour))
