#!/usr/bin/env python3
"""Draws the status-bar icon, resources/images/Icon.png: a 64x64 RGBA mouse with a microphone.

Plain shapes rendered with 4x4 supersampling for smooth edges and written as a PNG with zlib and
struct only, so the output is byte-for-byte reproducible.

Usage: gen-icon.py [output path]
"""
import pathlib
import struct
import sys
import zlib

SIZE = 64
SAMPLES = 4  # per axis

BODY = (47, 111, 237)
OUTLINE = (22, 56, 128)
MARK = (255, 255, 255)

CX = 32.0


def in_egg(x, y, inset):
    # An egg-shaped body: an ellipse whose half-width grows from top to bottom.
    cy, ry = 33.0, 27.0 - inset
    rx = 18.0 + 2.0 * (y - cy) / 27.0 - inset
    return ((x - CX) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0


def in_body(x, y):
    return in_egg(x, y, 0.0)


def in_body_inner(x, y):
    return in_egg(x, y, 1.6)


def in_capsule(x, y, x0, y0, x1, y1, r):
    # Points within r of the segment (x0, y0)-(x1, y1).
    dx, dy = x1 - x0, y1 - y0
    t = ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy)
    t = max(0.0, min(1.0, t))
    px, py = x0 + t * dx, y0 + t * dy
    return (x - px) ** 2 + (y - py) ** 2 <= r * r


def in_buttons(x, y):
    # The seam between the two buttons and the line under them.
    seam = abs(x - CX) <= 0.8 and y <= 21.0
    under = abs(y - 21.0) <= 0.8
    return seam or under


def in_wheel(x, y):
    return in_capsule(x, y, CX, 11.5, CX, 16.5, 2.2)


def in_microphone(x, y):
    head = in_capsule(x, y, CX, 31.0, CX, 39.0, 4.2)
    # The U-shaped holder: a ring around the head's lower end, lower half only.
    d2 = (x - CX) ** 2 + (y - 39.0) ** 2
    holder = y >= 39.0 and 7.0 ** 2 <= d2 <= 8.8 ** 2
    holder = holder or (abs(abs(x - CX) - 7.9) <= 0.9 and 36.0 <= y <= 39.0)
    stem = abs(x - CX) <= 0.9 and 47.0 <= y <= 51.5
    base = in_capsule(x, y, CX - 4.5, 51.5, CX + 4.5, 51.5, 0.9)
    return head or holder or stem or base


def pixel(px, py):
    """Returns premultiplied-free RGBA for one pixel as the average over its samples."""
    totals = [0.0, 0.0, 0.0, 0.0]
    step = 1.0 / SAMPLES
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            x = px + (sx + 0.5) * step
            y = py + (sy + 0.5) * step
            if not in_body(x, y):
                continue
            if not in_body_inner(x, y):
                colour = OUTLINE
            elif in_wheel(x, y) or in_buttons(x, y) or in_microphone(x, y):
                colour = MARK
            else:
                colour = BODY
            totals[0] += colour[0]
            totals[1] += colour[1]
            totals[2] += colour[2]
            totals[3] += 1.0
    covered = totals[3]
    if covered == 0:
        return (0, 0, 0, 0)
    alpha = covered / (SAMPLES * SAMPLES)
    return (
        round(totals[0] / covered),
        round(totals[1] / covered),
        round(totals[2] / covered),
        round(alpha * 255),
    )


def chunk(kind, payload):
    return (
        struct.pack(">I", len(payload))
        + kind
        + payload
        + struct.pack(">I", zlib.crc32(kind + payload) & 0xFFFFFFFF)
    )


def render_png():
    rows = bytearray()
    for py in range(SIZE):
        rows.append(0)  # filter type: none
        for px in range(SIZE):
            rows.extend(pixel(px, py))
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (
        b"\x89PNG\r\n\x1a\n"
        + chunk(b"IHDR", header)
        + chunk(b"IDAT", zlib.compress(bytes(rows), 9))
        + chunk(b"IEND", b"")
    )


def main(argv):
    root = pathlib.Path(__file__).resolve().parent.parent
    out = pathlib.Path(argv[1]) if len(argv) > 1 else root / "resources" / "images" / "Icon.png"
    out.parent.mkdir(parents=True, exist_ok=True)
    out.write_bytes(render_png())
    print(f"wrote {out}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
