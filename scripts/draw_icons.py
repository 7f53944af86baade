#!/usr/bin/env python3
"""Draws Wendrel's icons as 16-colour PNGs (32x32 and 16x16) into res/icons/, and the
application icon also in the other sizes of the hicolor theme and as an SVG.

Shapes are described once on a 32-unit grid and sampled at each pixel centre, so every size
comes from the same drawing; the SVG draws the same shapes as vectors. Every pixel uses the classic 16-colour palette; magenta is the
transparent key (it has alpha 0 in the tRNS chunk), as it was for icons of that era.
Only the standard library is used, so the icons can be redrawn anywhere: run this script and
commit the PNGs it writes.
"""

import math
import os
import struct
import sys
import zlib

PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GRAY, RED, LIME, YELLOW, BLUE, KEY, AQUA, WHITE = range(8, 16)


class Shape:
    """A test for whether a point of the 32-unit grid is inside, and the same shape in SVG."""

    def __init__(self, inside, svg, stroke_width=None):
        self.inside = inside
        self.svg = svg
        self.stroke_width = stroke_width  # a stroke is drawn in its colour, not filled

    def __call__(self, x, y):
        return self.inside(x, y)


def polygon(*points):
    def inside(x, y):
        result = False
        n = len(points)
        for i in range(n):
            (x1, y1), (x2, y2) = points[i], points[(i + 1) % n]
            if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
                result = not result
        return result
    return Shape(inside, '<polygon points="%s"' % " ".join(f"{x},{y}" for x, y in points))


def rect(left, top, right, bottom):
    return Shape(lambda x, y: left <= x < right and top <= y < bottom,
                 f'<rect x="{left}" y="{top}" width="{right - left}" height="{bottom - top}"')


def disc(cx, cy, radius):
    return Shape(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2,
                 f'<circle cx="{cx}" cy="{cy}" r="{radius}"')


def bar(x1, y1, x2, y2, half_width):
    """A straight stroke with round ends."""
    dx, dy = x2 - x1, y2 - y1
    length2 = dx * dx + dy * dy

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - x1) * dx + (y - y1) * dy) / length2))
        return math.hypot(x - (x1 + t * dx), y - (y1 + t * dy)) <= half_width
    # A stroke: filled with its stroke colour, which the SVG canvas gives it.
    return Shape(inside, f'<line x1="{x1}" y1="{y1}" x2="{x2}" y2="{y2}" stroke-linecap="round"',
                 2 * half_width)


class Canvas:
    def __init__(self, size):
        self.size = size
        self.pixels = [[KEY] * size for _ in range(size)]

    def covered(self, shape):
        unit = 32.0 / self.size
        return [[shape((px + 0.5) * unit, (py + 0.5) * unit) for px in range(self.size)]
                for py in range(self.size)]

    def draw(self, shape, fill, outline=None):
        """Fills the shape; with an outline, its edge pixels (a 4-neighbour outside) get it."""
        mask = self.covered(shape)
        n = self.size
        for y in range(n):
            for x in range(n):
                if not mask[y][x]:
                    continue
                edge = any(not (0 <= x + dx < n and 0 <= y + dy < n and mask[y + dy][x + dx])
                           for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
                self.pixels[y][x] = outline if (edge and outline is not None) else fill

    def png(self):
        rows = b""
        for row in self.pixels:
            packed = bytes((row[i] << 4) | row[i + 1] for i in range(0, self.size, 2))
            rows += b"\x00" + packed

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

        header = struct.pack(">IIBBBBB", self.size, self.size, 4, 3, 0, 0, 0)
        plte = b"".join(bytes(c) for c in PALETTE)
        trns = bytes(0 if i == KEY else 255 for i in range(16))
        return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"PLTE", plte) +
                chunk(b"tRNS", trns) + chunk(b"IDAT", zlib.compress(rows, 9)) +
                chunk(b"IEND", b""))


def colour(index):
    return "#%02x%02x%02x" % PALETTE[index]


class SvgCanvas:
    """The same drawing as vectors; an outline is a stroke of one grid unit along the edge."""

    def __init__(self):
        self.elements = []

    def draw(self, shape, fill, outline=None):
        if shape.stroke_width is not None:
            if outline is not None:
                self.elements.append(f'{shape.svg} stroke="{colour(outline)}" '
                                     f'stroke-width="{shape.stroke_width + 1}"/>')
            self.elements.append(f'{shape.svg} stroke="{colour(fill)}" '
                                 f'stroke-width="{shape.stroke_width}"/>')
            return
        stroke = (f' stroke="{colour(outline)}" stroke-width="1" stroke-linejoin="round"'
                  if outline is not None else "")
        self.elements.append(f'{shape.svg} fill="{colour(fill)}"{stroke}/>')

    def svg(self):
        body = "\n".join("  " + element for element in self.elements)
        return ('<?xml version="1.0" encoding="UTF-8"?>\n'
                '<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" '
                # Outlines stand half a unit outside the 32-unit grid's shapes.
                'viewBox="-0.5 -0.5 33 33">\n' + body + "\n</svg>\n")


def text_lines(canvas, left, right, tops):
    for top in tops:
        canvas.draw(rect(left, top, right, top + 2), NAVY)


def draw_app(canvas):
    """A page of text with a red arrow across it: text going in, replaced text coming out."""
    canvas.draw(polygon((5, 1), (20, 1), (27, 8), (27, 31), (5, 31)), WHITE, BLACK)
    canvas.draw(polygon((20, 1), (20, 8), (27, 8)), SILVER, BLACK)
    text_lines(canvas, 8, 18, (5,))
    text_lines(canvas, 8, 24, (11, 15))
    canvas.draw(polygon((1, 21), (17, 21), (17, 16), (31, 24), (17, 32), (17, 27), (1, 27)),
                RED, MAROON)


def folder_back(canvas):
    canvas.draw(polygon((1, 6), (11, 6), (13, 9), (27, 9), (27, 29), (1, 29)), OLIVE, BLACK)


def draw_open_folder(canvas):
    """An open folder with a document standing in it."""
    folder_back(canvas)
    canvas.draw(rect(7, 1, 25, 23), WHITE, BLACK)
    text_lines(canvas, 10, 22, (5, 9, 13))
    canvas.draw(polygon((1, 29), (7, 15), (31, 15), (25, 29)), YELLOW, BLACK)


def draw_folder_search(canvas):
    """A closed folder with a magnifying glass over it."""
    folder_back(canvas)
    canvas.draw(rect(1, 11, 27, 29), YELLOW, BLACK)
    canvas.draw(bar(21, 21, 29, 29, 2.5), MAROON, BLACK)
    canvas.draw(disc(15, 15, 9), NAVY, BLACK)
    canvas.draw(disc(15, 15, 6), AQUA)
    canvas.draw(rect(11, 10, 14, 13), WHITE)


ICONS = {
    "wendrel": draw_app,
    "open_folder": draw_open_folder,
    "folder_search": draw_folder_search,
}


# The button pictures are shown at 16 and 32 pixels; the application icon also goes into the
# desktop's icon theme, which looks for these sizes.
BUTTON_SIZES = (32, 16)
THEME_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "res", "icons")
    os.makedirs(out, exist_ok=True)
    for name, draw in ICONS.items():
        for size in THEME_SIZES if name == "wendrel" else BUTTON_SIZES:
            canvas = Canvas(size)
            draw(canvas)
            with open(os.path.join(out, f"{name}_{size}.png"), "wb") as f:
                f.write(canvas.png())
    svg = SvgCanvas()
    draw_app(svg)
    with open(os.path.join(out, "wendrel.svg"), "w", encoding="utf-8") as f:
        f.write(svg.svg())


if __name__ == "__main__":
    main()
