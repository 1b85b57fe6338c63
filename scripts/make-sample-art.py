#!/usr/bin/env python3
"""Draws the sample site's pictures and icon (our own simple artwork).

Run once; the results are committed under examples/sample-site/.
"""
import math
import struct
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from pngart import png  # noqa: E402




def glyph(size):
    """A blue rounded square with a white page and a folded corner."""
    def pixel(x, y):
        u, v = (x + 0.5) / size, (y + 0.5) / size
        r = 0.18
        dx = max(abs(u - 0.5) - (0.5 - r), 0)
        dy = max(abs(v - 0.5) - (0.5 - r), 0)
        if math.hypot(dx, dy) > r:
            return (0, 0, 0, 0)
        page = 0.28 < u < 0.72 and 0.2 < v < 0.8 and not (u > 0.6 and v < 0.32 and (u - 0.6) > (v - 0.2))
        if page:
            line = 0.3 < u < 0.64 and any(abs(v - t) < 0.025 for t in (0.42, 0.52, 0.62, 0.72))
            return (40, 96, 170, 255) if line else (255, 255, 255, 255)
        return (32, 110, 200, 255)
    return pixel


def bmp_image(size, pixel):
    """32-bit icon bitmap: BITMAPINFOHEADER, bottom-up BGRA rows, AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    for y in reversed(range(size)):
        for x in range(size):
            r, g, b, a = pixel(x, y)
            colour.extend((b, g, r, a))
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in reversed(range(size)):
        row = bytearray(stride)
        for x in range(size):
            if pixel(x, y)[3] == 0:
                row[x // 8] |= 0x80 >> (x % 8)
        mask.extend(row)
    return header + bytes(colour) + bytes(mask)


def ico(images):
    """images: list of (width, bitcount, bytes)."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    body = b""
    for width, bits, data in images:
        out += struct.pack("<BBBBHHII", width % 256, width % 256, 0, 0, 1, bits, len(data), offset + len(body))
        body += data
    return out + body


def main(target):
    target = Path(target)
    (target / "images").mkdir(parents=True, exist_ok=True)
    (target.parent / "art").mkdir(parents=True, exist_ok=True)
    (target / "images" / "logo.png").write_bytes(png(96, 96, glyph(96)))
    (target / "images" / "banner.png").write_bytes(png(480, 64, lambda x, y: (
        int(30 + 40 * x / 480), int(90 + 60 * y / 64), 200, 255)))
    (target / "images" / "dot.png").write_bytes(png(8, 8, lambda x, y: (
        (32, 110, 200, 255) if (x - 3.5) ** 2 + (y - 3.5) ** 2 < 12 else (0, 0, 0, 0))))
    images = [(s, 32, bmp_image(s, glyph(s))) for s in (16, 32, 48)]
    images.append((256, 32, png(256, 256, glyph(256))))
    (target.parent / "art" / "site.ico").write_bytes(ico(images))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "examples/sample-site")
