#!/usr/bin/env python3
"""Draws the desktop icons of the compiler and the viewer (our own artwork).

Each icon is a short list of shapes, written once as the scalable SVG and
once sampled into the PNGs of the hicolor sizes, so both always agree. The
viewer's glyph is the one src/viewer/icon/MakeIcon.cpp draws for viewer.exe,
so a .qpf file looks like the EXE outputs. Run once; the results are
committed under packaging/icons/.
"""
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from pngart import png  # noqa: E402

SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
VIEW = 256  # the SVG's coordinate range; shapes use the unit square


def rgb(r, g, b):
    return (round(r * 255), round(g * 255), round(b * 255))


# Teal at the top left to deep blue at the bottom right, as viewer.exe's tile.
TILE = ("gradient", rgb(0.05, 0.55, 0.62), rgb(0.09, 0.28, 0.66))
FOLD = ("solid", rgb(0.72, 0.84, 0.93))
INK = ("solid", rgb(0.10, 0.40, 0.65))
WHITE = ("solid", (255, 255, 255))
AMBER = ("gradient", (0xF6, 0xB5, 0x3A), (0xDD, 0x74, 0x1C))


def page(left, top, right, bottom, fold):
    """A page with its top right corner folded over."""
    return [("polygon", [(left, top), (right - fold, top), (right, top + fold), (right, bottom), (left, bottom)], WHITE),
            ("polygon", [(right - fold, top), (right - fold, top + fold), (right, top + fold)], FOLD)]


def lines(left, rights, tops, height):
    return [("rect", (left, t, r, t + height, 0), INK) for r, t in zip(rights, tops)]


TILE_SHAPE = ("rect", (0.04, 0.04, 0.96, 0.96, 0.2), TILE)

ICONS = {
    # The viewer: one page with three lines of text.
    "quorvane-view": [TILE_SHAPE]
    + page(0.27, 0.16, 0.73, 0.84, 0.15)
    + lines(0.35, (0.65, 0.65, 0.55), (0.42, 0.54, 0.66), 0.055),
    # The compiler: pages going into one package.
    "quorvane": [TILE_SHAPE,
                 ("rect", (0.20, 0.12, 0.62, 0.60, 0), FOLD)]
    + page(0.34, 0.20, 0.78, 0.66, 0.13)
    + lines(0.41, (0.70, 0.62), (0.40, 0.49), 0.05)
    + [("rect", (0.16, 0.60, 0.84, 0.88, 0.05), AMBER),
       ("rect", (0.16, 0.67, 0.84, 0.70, 0), ("solid", (0xB9, 0x5A, 0x16))),
       ("rect", (0.42, 0.75, 0.58, 0.81, 0.02), ("solid", (0xFF, 0xF1, 0xD2)))],
}


def inside(kind, geometry, x, y):
    if kind == "rect":
        x0, y0, x1, y1, r = geometry
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx, cy = min(max(x, x0 + r), x1 - r), min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    # Even-odd rule over the polygon's edges.
    hit = False
    points = geometry
    for (ax, ay), (bx, by) in zip(points, points[1:] + points[:1]):
        if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
            hit = not hit
    return hit


def colour(paint, x, y):
    if paint[0] == "solid":
        return paint[1]
    t = min(max((x + y) / 2, 0.0), 1.0)
    return tuple(a + (b - a) * t for a, b in zip(paint[1], paint[2]))


def sample(shapes, x, y):
    """The topmost shape's colour at a point of the unit square, or None."""
    for kind, geometry, paint in reversed(shapes):
        if inside(kind, geometry, x, y):
            return colour(paint, x, y)
    return None


def render(shapes, size):
    grid = 8 if size <= 48 else 4

    def pixel(px, py):
        total, covered = [0.0, 0.0, 0.0], 0
        for sy in range(grid):
            for sx in range(grid):
                c = sample(shapes, (px + (sx + 0.5) / grid) / size, (py + (sy + 0.5) / grid) / size)
                if c is not None:
                    covered += 1
                    total = [t + v for t, v in zip(total, c)]
        if not covered:
            return (0, 0, 0, 0)
        return tuple(round(t / covered) for t in total) + (round(255 * covered / grid / grid),)

    return png(size, size, pixel)


def svg(name, shapes):
    def n(v):
        return f"{v * VIEW:g}"

    def hexcolour(c):
        return "#%02x%02x%02x" % tuple(round(v) for v in c)

    defs, body = [], []
    for index, (kind, geometry, paint) in enumerate(shapes):
        if paint[0] == "solid":
            fill = hexcolour(paint[1])
        else:
            fill = f"url(#g{index})"
            defs.append(f'    <linearGradient id="g{index}" gradientUnits="userSpaceOnUse" x1="0" y1="0" '
                        f'x2="{VIEW}" y2="{VIEW}">\n'
                        f'      <stop offset="0" stop-color="{hexcolour(paint[1])}"/>\n'
                        f'      <stop offset="1" stop-color="{hexcolour(paint[2])}"/>\n'
                        f'    </linearGradient>')
        if kind == "rect":
            x0, y0, x1, y1, r = geometry
            rounding = f' rx="{n(r)}"' if r else ""
            body.append(f'  <rect x="{n(x0)}" y="{n(y0)}" width="{n(x1 - x0)}" height="{n(y1 - y0)}"{rounding} '
                        f'fill="{fill}"/>')
        else:
            points = " ".join(f"{n(x)},{n(y)}" for x, y in geometry)
            body.append(f'  <polygon points="{points}" fill="{fill}"/>')
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{VIEW}" height="{VIEW}" '
            f'viewBox="0 0 {VIEW} {VIEW}">\n'
            f"  <title>{name}</title>\n"
            "  <defs>\n" + "\n".join(defs) + "\n  </defs>\n"
            + "\n".join(body) + "\n</svg>\n")


def main():
    root = Path(__file__).resolve().parent.parent / "packaging" / "icons" / "hicolor"
    for name, shapes in ICONS.items():
        scalable = root / "scalable" / "apps"
        scalable.mkdir(parents=True, exist_ok=True)
        (scalable / f"{name}.svg").write_text(svg(name, shapes))
        for size in SIZES:
            folder = root / f"{size}x{size}" / "apps"
            folder.mkdir(parents=True, exist_ok=True)
            (folder / f"{name}.png").write_bytes(render(shapes, size))


if __name__ == "__main__":
    main()
