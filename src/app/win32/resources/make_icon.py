#!/usr/bin/env python3
"""Draws Vorlund's main icon, 32 x 32 in the 16 standard colours, and writes
it as vorlund.ico: a blue tile with a white arrow going down into a yellow
tray, the picture of a delivery being received. Run it again after changing
the drawing; the .ico beside it is what the build uses."""

import struct
import sys

SIZE = 32
# The 16 standard colours as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, GRAY, YELLOW, BLUE, WHITE = 0, 4, 8, 11, 12, 15
CLEAR = None


def draw():
    pixels = [[CLEAR] * SIZE for _ in range(SIZE)]

    def fill(x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                pixels[y][x] = colour

    # The tile, with cut corners and a dark edge.
    fill(2, 1, 29, 30, BLACK)
    fill(1, 2, 30, 29, BLACK)
    fill(3, 2, 28, 29, NAVY)
    fill(2, 3, 29, 28, NAVY)
    fill(4, 3, 27, 5, BLUE)
    # The arrow: a shaft and a head narrowing to a point.
    fill(14, 5, 17, 14, WHITE)
    for row, half in enumerate(range(7, -1, -1)):
        fill(15 - half, 15 + row, 16 + half, 15 + row, WHITE)
    # The tray it points into.
    fill(6, 24, 25, 26, YELLOW)
    fill(6, 19, 8, 23, YELLOW)
    fill(23, 19, 25, 23, YELLOW)
    fill(7, 27, 24, 27, GRAY)
    return pixels


def icon_bytes(pixels):
    # Rows are stored bottom-up; colour rows and mask rows are padded to
    # 4 bytes. The mask has a 1 where the desktop shows through.
    colour_rows = []
    mask_rows = []
    for row in reversed(pixels):
        nibbles = [0 if p is CLEAR else p for p in row]
        colour_rows.append(bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, SIZE, 2)))
        bits = 0
        for p in row:
            bits = (bits << 1) | (1 if p is CLEAR else 0)
        mask_rows.append(bits.to_bytes(SIZE // 8, "big"))
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0,
                         len(b"".join(colour_rows)) + len(b"".join(mask_rows)), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    image = header + palette + b"".join(colour_rows) + b"".join(mask_rows)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


if __name__ == "__main__":
    target = sys.argv[1] if len(sys.argv) > 1 else "vorlund.ico"
    with open(target, "wb") as out:
        out.write(icon_bytes(draw()))
