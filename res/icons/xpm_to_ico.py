#!/usr/bin/env python3
"""Turns one of our 32 x 32 XPM pictures (at most 16 colours, "None" for transparent) into a Windows
icon file of one 16-colour image, for the resource compiler.

Usage: xpm_to_ico.py IN.xpm OUT.ico
"""
import re
import struct
import sys

SIZE = 32


def read_xpm(path):
    """Returns (palette of (r, g, b) or None, rows of palette indices)."""
    with open(path) as f:
        strings = re.findall(r'"((?:[^"\\]|\\.)*)"', f.read())
    width, height, ncolors, cpp = (int(v) for v in strings[0].split()[:4])
    if (width, height) != (SIZE, SIZE):
        sys.exit(f"{path}: {width} x {height}, want {SIZE} x {SIZE}")
    keys, palette = {}, []
    for line in strings[1:1 + ncolors]:
        key, fields = line[:cpp], line[cpp:].split()
        value = fields[fields.index("c") + 1]
        if value.lower() == "none":
            colour = None
        elif re.fullmatch(r"#[0-9A-Fa-f]{6}", value):
            colour = tuple(int(value[i:i + 2], 16) for i in (1, 3, 5))
        else:
            sys.exit(f"{path}: colour {value!r} is not #RRGGBB or None")
        keys[key] = len(palette)
        palette.append(colour)
    rows = []
    for line in strings[1 + ncolors:1 + ncolors + height]:
        rows.append([keys[line[i:i + cpp]] for i in range(0, width * cpp, cpp)])
    return palette, rows


def ico_bytes(palette, rows):
    opaque = [c for c in palette if c is not None]
    if len(opaque) > 16:
        sys.exit(f"{len(opaque)} colours, an icon of 16 colours takes 16")
    table = opaque + [(0, 0, 0)] * (16 - len(opaque))
    index_of = {i: (opaque.index(c) if c is not None else 0) for i, c in enumerate(palette)}

    xor, mask = bytearray(), bytearray()
    for row in reversed(rows):  # bottom-up, as a DIB
        for x in range(0, SIZE, 2):
            xor.append(index_of[row[x]] << 4 | index_of[row[x + 1]])
        bits = 0
        for x in range(SIZE):
            bits = bits << 1 | (palette[row[x]] is None)
        mask += bits.to_bytes(SIZE // 8, "big")  # 4 bytes: already DWORD-aligned

    header = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in table)
    image = header + colours + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 22)
    return directory + image


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    palette, rows = read_xpm(sys.argv[1])
    with open(sys.argv[2], "wb") as f:
        f.write(ico_bytes(palette, rows))


if __name__ == "__main__":
    main()
