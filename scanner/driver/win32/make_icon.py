#!/usr/bin/env python3
"""Writes the scanner's window icon: 32 x 32 pixels in the 16 standard
colours, a white envelope with a green tick, on a transparent background.

Usage: make_icon.py OUTPUT.ico
"""
import struct
import sys

# The 16 colours of the standard palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_GREEN, GREY, WHITE, BLUE, NAVY = 0, 2, 8, 15, 12, 4
SIZE = 32


def draw():
    """Rows top to bottom of palette indexes; None is transparent."""
    img = [[None] * SIZE for _ in range(SIZE)]
    left, right, top, bottom = 2, 28, 7, 24
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            edge = y in (top, bottom) or x in (left, right)
            img[y][x] = NAVY if edge else WHITE
    # The flap: two lines from the upper corners to the middle.
    middle = (left + right) // 2
    for x in range(left, right + 1):
        y = top + (x - left if x <= middle else right - x) * 9 // (middle - left)
        if top <= y <= bottom:
            img[y][x] = NAVY
    # A tick over the lower right corner, two pixels wide, with a dark rim.
    tick = [(19, 22), (20, 23), (21, 24), (22, 25), (23, 24), (24, 23), (25, 22),
            (26, 21), (27, 20), (28, 19), (29, 18)]
    for x, y in tick:
        for dx, dy in ((-1, 0), (1, 0), (0, -1), (0, 1), (0, 2), (-1, 1), (1, 1)):
            px, py = x + dx, y + dy
            if 0 <= px < SIZE and 0 <= py < SIZE and img[py][px] != DARK_GREEN:
                img[py][px] = BLACK
    for x, y in tick:
        for dy in (0, 1):
            img[y + dy][x] = DARK_GREEN
    return img


def icon(img):
    xor = bytearray()
    mask = bytearray()
    for row in reversed(img):  # bottom-up rows
        for x in range(0, SIZE, 2):
            hi = row[x] if row[x] is not None else 0
            lo = row[x + 1] if row[x + 1] is not None else 0
            xor.append(hi << 4 | lo)
        bits = 0
        for x in range(SIZE):
            bits = bits << 1 | (1 if row[x] is None else 0)
        mask += struct.pack(">I", bits)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, len(xor) + len(mask),
                         0, 0, 16, 0)
    image = header + palette + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    with open(sys.argv[1], "wb") as f:
        f.write(icon(draw()))


if __name__ == "__main__":
    main()
