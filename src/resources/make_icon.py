#!/usr/bin/env python3
"""Writes quenlat.ico, the program's icon: one 32 x 32 image in 16 colours.

A sheet of text with a folded corner, and a red line-break arrow (the
"return" mark) that ends its last line. Run it from anywhere:
    python3 src/resources/make_icon.py
It rewrites quenlat.ico next to itself; the result is the same every time.
"""
import os
import struct

SIZE = 32

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_RED, NAVY, SILVER, GREY, RED, WHITE = 0, 1, 4, 7, 8, 9, 15
CLEAR = None  # transparent

# The sheet and its folded corner.
LEFT, TOP, RIGHT, BOTTOM, FOLD = 3, 1, 24, 30, 7
# Lines of text: (row, first column, last column).
TEXT = [(6, 6, 17), (9, 6, 21), (12, 6, 19), (15, 6, 21), (18, 6, 14),
        (24, 6, 20), (27, 6, 16)]


def arrow_pixels():
    """The line-break mark: a thick stroke down, then left to an arrowhead."""
    pixels = set()
    for y in range(9, 22):          # the stroke down, three wide
        for x in range(26, 29):
            pixels.add((x, y))
    for y in range(19, 22):         # the stroke to the left, three wide
        for x in range(15, 29):
            pixels.add((x, y))
    for d in range(0, 6):           # the head, pointing left, tip at (9, 20)
        for y in range(20 - d, 21 + d):
            pixels.add((9 + d, y))
    return pixels


def draw():
    image = [[CLEAR] * SIZE for _ in range(SIZE)]
    # The sheet: white with a black edge; the top-right corner folded down.
    for y in range(TOP, BOTTOM + 1):
        for x in range(LEFT, RIGHT + 1):
            fx, fy = x - (RIGHT - FOLD), y - TOP   # position in the fold's square
            if fx > fy:
                continue                            # cut away by the fold
            edge = x in (LEFT, RIGHT) or y in (TOP, BOTTOM) or fx == fy
            if fx >= 0 and fy <= FOLD and fx <= fy:
                # The folded flap: silver, edged in grey.
                image[y][x] = BLACK if edge or y == TOP + FOLD or x == RIGHT - FOLD else SILVER
                if fx == fy:
                    image[y][x] = BLACK
            else:
                image[y][x] = BLACK if edge else WHITE
    for row, first, last in TEXT:
        for x in range(first, last + 1):
            image[row][x] = NAVY if row != 18 else GREY
    # The mark, with a black outline so that it stands out on the sheet and
    # on any background.
    mark = arrow_pixels()
    for (x, y) in mark:
        for dx in (-1, 0, 1):
            for dy in (-1, 0, 1):
                if (x + dx, y + dy) not in mark:
                    image[y + dy][x + dx] = BLACK
    for (x, y) in mark:
        image[y][x] = RED
    # A darker inner edge gives the stroke some depth.
    for (x, y) in mark:
        if (x + 1, y + 1) not in mark and image[y][x] == RED:
            image[y][x] = DARK_RED
    return image


def ico_bytes(image):
    # The colour bitmap: 4 bits a pixel, rows bottom-up, each row 16 bytes.
    xor = bytearray()
    for y in reversed(range(SIZE)):
        row = [0 if c is CLEAR else c for c in image[y]]
        for x in range(0, SIZE, 2):
            xor.append((row[x] << 4) | row[x + 1])
    # The mask: 1 bit a pixel, set where transparent; rows of 4 bytes.
    mask = bytearray()
    for y in reversed(range(SIZE)):
        bits = 0
        for x in range(SIZE):
            bits = (bits << 1) | (1 if image[y][x] is CLEAR else 0)
        mask += bits.to_bytes(4, "big")
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 4, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    data = header + palette + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(data), 6 + 16)
    return directory + entry + data


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "quenlat.ico")
    with open(out, "wb") as f:
        f.write(ico_bytes(draw()))


if __name__ == "__main__":
    main()
