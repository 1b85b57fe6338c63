#!/usr/bin/env python3
"""Draws the start page's pictures (our own artwork) as GIFs.

Pixels are drawn here, written as PNG and turned into GIF by ImageMagick's
convert. Run once; the results are committed under src/app/startpage/.
"""
import math
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from pngart import png  # noqa: E402

TITLE = (0xCF, 0xE0, 0xF5, 255)    # the side panel's title bar
BORDER = (0x9F, 0xBF, 0xE6, 255)   # its frame
BODY = (0xF3, 0xF4, 0xF6, 255)     # its body
CLEAR = (255, 255, 255, 0)




def inside_round(x, y, cx, cy, r):
    return (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r


def top_corner(left):
    # 4 by 9: a quarter circle of radius 4 at the top, the bar's colour below.
    def pixel(x, y):
        cx = 4 if left else 0
        if y < 4 and not inside_round(x, y, cx, 4, 4):
            return CLEAR
        return TITLE
    return 4, 9, pixel


def bottom_corner(left):
    # 4 by 4: the body's rounded end with its frame.
    def pixel(x, y):
        cx = 4 if left else 0
        d = math.hypot(x + 0.5 - cx, y + 0.5 - 0)
        if d > 4:
            return CLEAR
        if d > 3:
            return BORDER
        return BODY
    return 4, 4, pixel


def nav():
    # 9 by 9: a small arrow-head bullet.
    def pixel(x, y):
        if inside_round(x, y, 4.5, 4.5, 4.5):
            fill = (0x2F, 0x80, 0xD1, 255)
            # a white chevron on the disc
            if 3 <= x <= 5 and abs(y - 4) <= (5 - x) + 0 and abs(y - 4) >= (4 - x) - 1 and x - 3 <= 4 - abs(y - 4):
                return (255, 255, 255, 255)
            return fill
        return CLEAR
    return 9, 9, pixel


def dots():
    # 8 by 17: two columns of dots fading towards the bottom.
    def pixel(x, y):
        if x in (2, 5) and y % 3 == 1 and y < 16:
            shade = 0x4A + y * 6
            return (shade, shade + 0x30, 0xD8, 255)
        return TITLE
    return 8, 17, pixel


def spicon():
    # 25 by 27: the program's small icon, a page with a globe on it.
    def pixel(x, y):
        # page with folded corner
        if 4 <= x <= 20 and 2 <= y <= 24:
            if x > 15 and y < 2 + (x - 15):
                return CLEAR
            if x == 4 or x == 20 or y == 2 or y == 24 or (x > 15 and y == 2 + (x - 15)):
                return (0x34, 0x49, 0x5E, 255)
            if inside_round(x, y, 12.5, 14.5, 6):
                ring = math.hypot(x + 0.5 - 12.5, y + 0.5 - 14.5)
                if ring > 5.2 or abs(x + 0.5 - 12.5) < 0.8 or abs(y + 0.5 - 14.5) < 0.8:
                    return (0x1D, 0x4F, 0x86, 255)
                return (0x2F, 0x80, 0xD1, 255)
            return (0xFD, 0xFD, 0xFD, 255)
        return CLEAR
    return 25, 27, pixel


def px():
    return 1, 1, lambda x, y: TITLE


PICTURES = {
    "SPICON": spicon(), "NAV": nav(), "LTC": top_corner(True), "RTC": top_corner(False),
    "BLC": bottom_corner(True), "BRC": bottom_corner(False), "PX": px(), "DOTS": dots(),
}


def main():
    out = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "src/app/startpage")
    out.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        for name, (w, h, pixel) in PICTURES.items():
            source = Path(tmp) / f"{name}.png"
            source.write_bytes(png(w, h, pixel))
            subprocess.run(["/usr/bin/convert", str(source), "-strip", str(out / f"{name}.gif")], check=True)
            print(f"{name}.gif {w}x{h}")


if __name__ == "__main__":
    main()
