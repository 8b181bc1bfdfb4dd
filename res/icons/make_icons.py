#!/usr/bin/env python3
"""Draws the two 32 x 32 pictures of the address dialogs as XPM files (16 colours at most).

106: a grey box-shaped adapter with a green mark.  286: a desk telephone with a green display and keypad.
Run it from anywhere; it writes 106.xpm and 286.xpm next to itself.
"""
import os

SIZE = 32
PALETTE = {
    " ": "None",
    ".": "#000000",
    "k": "#404040",
    "+": "#808080",
    "@": "#C0C0C0",
    "w": "#E8E8E8",
    "#": "#FFFFFF",
    "G": "#007000",
    "g": "#00C000",
    "l": "#80FF80",
}


class Picture:
    def __init__(self):
        self.px = [[" "] * SIZE for _ in range(SIZE)]

    def put(self, x, y, c):
        if 0 <= x < SIZE and 0 <= y < SIZE:
            self.px[y][x] = c

    def rect(self, x0, y0, x1, y1, fill, edge=None):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                border = x in (x0, x1) or y in (y0, y1)
                self.put(x, y, edge if (edge and border) else fill)

    def polygon(self, points, fill, edge):
        """Fills a convex polygon between its edges and draws the edges."""
        edges = set()
        for a, b in zip(points, points[1:] + points[:1]):
            edges |= line_pixels(a, b)
        for y in range(SIZE):
            row = [x for (x, ey) in edges if ey == y]
            if not row:
                continue
            for x in range(min(row) + 1, max(row)):
                self.put(x, y, fill)
        for x, y in edges:
            self.put(x, y, edge)

    def line(self, a, b, c, width=1):
        for x, y in line_pixels(a, b):
            for dx in range(width):
                for dy in range(width):
                    self.put(x + dx, y + dy, c)

    def xpm(self, name):
        used = sorted({c for row in self.px for c in row})
        lines = ['/* XPM */', f'static const char *{name}[] = {{', f'"{SIZE} {SIZE} {len(used)} 1",']
        lines += [f'"{c} c {PALETTE[c]}",' for c in used]
        lines += [f'"{"".join(row)}",' for row in self.px]
        lines[-1] = lines[-1].rstrip(",")
        lines.append("};")
        return "\n".join(lines) + "\n"


def line_pixels(a, b):
    (x0, y0), (x1, y1) = a, b
    steps = max(abs(x1 - x0), abs(y1 - y0), 1)
    return {(round(x0 + (x1 - x0) * i / steps), round(y0 + (y1 - y0) * i / steps)) for i in range(steps + 1)}


def adapter():
    p = Picture()
    # A box seen from the front, a little from above and from the right.
    p.polygon([(2, 11), (8, 5), (29, 5), (23, 11)], "w", ".")   # top
    p.polygon([(23, 11), (29, 5), (29, 21), (23, 27)], "+", ".")  # right side
    p.rect(2, 11, 23, 27, "@", ".")                                # front
    # Ports and a status light along the bottom of the front.
    for x in (5, 9, 13):
        p.rect(x, 22, x + 2, 24, "k")
    p.rect(19, 23, 20, 24, "g")
    # The green mark.
    p.line((6, 16), (9, 19), "G", 2)
    p.line((9, 19), (16, 13), "G", 2)
    p.line((6, 15), (9, 18), "g")
    p.line((9, 18), (16, 12), "g")
    return p


def phone():
    p = Picture()
    # Body: a wedge that is wider at the desk.
    p.polygon([(7, 12), (24, 12), (29, 29), (2, 29)], "@", ".")
    # Handset resting on top.
    p.rect(4, 5, 27, 8, "k", ".")
    p.rect(3, 7, 9, 12, "k", ".")
    p.rect(22, 7, 28, 12, "k", ".")
    # Green display.
    p.rect(9, 14, 22, 18, "g", "G")
    p.line((11, 16), (17, 16), "l")
    # Keypad: three columns, four rows.
    for row in range(4):
        for col in range(3):
            x, y = 10 + col * 4, 20 + row * 2
            p.rect(x, y, x + 2, y, "#")
            p.put(x + 1, y + 1, "+")
    return p


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for number, picture in ((106, adapter()), (286, phone())):
        with open(os.path.join(here, f"{number}.xpm"), "w") as f:
            f.write(picture.xpm(f"icon_{number}"))


if __name__ == "__main__":
    main()
