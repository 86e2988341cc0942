#!/usr/bin/env python3
"""Draws the folder's icon and writes it as a Windows .ico file.

The picture: a yellow folder holding two small computers joined by a network cable.
Three images: 16x16 and 32x32 in 16 colours, 48x48 in 256 colours (with shading).
Usage: make_icon.py OUTPUT.ico
"""
import struct
import sys

# The 16 standard colours of 4-bit images, in their usual order.
STANDARD = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, OLIVE, NAVY, TEAL = STANDARD[0], STANDARD[3], STANDARD[4], STANDARD[6]
SILVER, GREY, YELLOW, BLUE, AQUA, WHITE = (STANDARD[7], STANDARD[8], STANDARD[11],
                                           STANDARD[12], STANDARD[14], STANDARD[15])

# Shapes on a 48-unit grid: (kind, left, top, right, bottom, fill, outline).
DESIGN = [
    ("rect", 3, 6, 20, 12, OLIVE, BLACK),       # the folder's tab
    ("rect", 3, 10, 45, 40, OLIVE, BLACK),      # its back
    ("rect", 3, 16, 45, 40, YELLOW, OLIVE),     # its front
    ("rect", 7, 20, 22, 32, SILVER, BLACK),     # first computer's monitor
    ("screen", 9, 22, 20, 30, BLUE, None),
    ("rect", 13, 32, 16, 35, GREY, None),       # its stand
    ("rect", 10, 35, 19, 37, GREY, BLACK),
    ("rect", 26, 20, 41, 32, SILVER, BLACK),    # second computer's monitor
    ("screen", 28, 22, 39, 30, BLUE, None),
    ("rect", 32, 32, 35, 35, GREY, None),
    ("rect", 29, 35, 38, 37, GREY, BLACK),
    ("rect", 14, 37, 16, 44, BLACK, None),      # the cable between them
    ("rect", 14, 42, 35, 44, BLACK, None),
    ("rect", 33, 37, 35, 44, BLACK, None),
]


def scale(value, size):
    return int(round(value * size / 48.0))


def draw(size, shaded):
    """Returns rows of RGB tuples, None where transparent."""
    pixels = [[None] * size for _ in range(size)]
    for kind, left, top, right, bottom, fill, outline in DESIGN:
        x0, y0 = scale(left, size), scale(top, size)
        x1, y1 = max(scale(right, size), x0 + 1), max(scale(bottom, size), y0 + 1)
        # At 16 pixels an outline would eat small shapes whole.
        if size < 32 and min(x1 - x0, y1 - y0) < 6:
            outline = None
        for y in range(y0, y1):
            for x in range(x0, x1):
                colour = fill
                if shaded and fill == YELLOW:
                    colour = blend(WHITE, YELLOW, 0.55 * (y1 - 1 - y) / max(1, y1 - y0 - 1))
                if shaded and kind == "screen":
                    colour = blend(AQUA, NAVY, (y - y0) / max(1, y1 - y0 - 1))
                elif kind == "screen" and y == y0 and size >= 32:
                    colour = AQUA
                if outline and (x in (x0, x1 - 1) or y in (y0, y1 - 1)):
                    colour = outline
                pixels[y][x] = colour
    return pixels


def blend(first, second, share_of_first):
    return tuple(int(round(a * share_of_first + b * (1 - share_of_first)))
                 for a, b in zip(first, second))


def palette_256():
    colours = list(STANDARD)
    for step in range(120):      # white to yellow
        colours.append(blend(WHITE, YELLOW, step / 119.0))
    for step in range(120):      # aqua to navy
        colours.append(blend(AQUA, NAVY, step / 119.0))
    return colours


def nearest(palette, colour):
    return min(range(len(palette)),
               key=lambda i: sum((a - b) ** 2 for a, b in zip(palette[i], colour)))


def row_bytes(bits):
    return ((bits + 31) // 32) * 4


def image(size, bits):
    palette = STANDARD if bits == 4 else palette_256()
    pixels = draw(size, shaded=(bits == 8))
    colour_rows, mask_rows = [], []
    for row in reversed(pixels):         # bitmaps are stored bottom row first
        indices = [0 if p is None else nearest(palette, p) for p in row]
        if bits == 4:
            packed = bytes((indices[i] << 4) | indices[i + 1] for i in range(0, size, 2))
        else:
            packed = bytes(indices)
        colour_rows.append(packed.ljust(row_bytes(size * bits), b"\0"))
        mask = 0
        for p in row:
            mask = (mask << 1) | (1 if p is None else 0)
        mask_bytes = (mask << ((8 - size % 8) % 8)).to_bytes((size + 7) // 8, "big")
        mask_rows.append(mask_bytes.ljust(row_bytes(size), b"\0"))
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    table = table.ljust(4 * (1 << bits), b"\0")
    body = b"".join(colour_rows) + b"".join(mask_rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, bits, 0, len(body), 0, 0, 0, 0)
    return header + table + body


def main():
    images = [(16, 4), (32, 4), (48, 8)]
    blobs = [image(size, bits) for size, bits in images]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (size, bits), blob in zip(images, blobs):
        out += struct.pack("<BBBBHHII", size, size, 16 if bits == 4 else 0, 0, 1, bits,
                           len(blob), offset)
        offset += len(blob)
    out += b"".join(blobs)
    with open(sys.argv[1], "wb") as file:
        file.write(out)


if __name__ == "__main__":
    main()
