#!/usr/bin/env python3
"""Draws the application icon (a folder going into a cabinet box) as a
32x32 and a 16x16 image of 16 colours and writes Kestelvarnholm.ico."""
import struct
import sys

# The 16 colours of the standard Windows palette, as (B, G, R, 0).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]  # (R, G, B)
BLACK, DARK_YELLOW, GREY, DARK_GREY, YELLOW, WHITE, BLUE, DARK_BLUE = 0, 3, 7, 8, 11, 15, 12, 4
TRANSPARENT = None


def draw(size):
    """Returns rows (top first) of palette indices or None for transparent."""
    s = size / 32.0
    img = [[TRANSPARENT] * size for _ in range(size)]

    def rect(x0, y0, x1, y1, colour):
        for y in range(int(y0 * s), max(int(y1 * s), int(y0 * s) + 1)):
            for x in range(int(x0 * s), max(int(x1 * s), int(x0 * s) + 1)):
                if 0 <= x < size and 0 <= y < size:
                    img[y][x] = colour

    # Cabinet box: blue body with a dark outline and a lid line.
    rect(2, 14, 30, 31, DARK_BLUE)
    rect(3, 15, 29, 30, BLUE)
    rect(3, 19, 29, 20, DARK_BLUE)
    rect(13, 23, 19, 26, WHITE)
    # Folder above the box, half inside it.
    rect(6, 3, 14, 6, DARK_YELLOW)
    rect(6, 5, 26, 17, DARK_YELLOW)
    rect(7, 6, 25, 16, YELLOW)
    rect(7, 9, 25, 10, DARK_YELLOW)
    return img


def dib(size):
    img = draw(size)
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0,
                         (xor_stride + and_stride) * size, 0, 0, 16, 0)
    palette = b''.join(struct.pack('BBBB', b, g, r, 0) for r, g, b in PALETTE)
    xor = bytearray()
    mask = bytearray()
    for row in reversed(img):
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, colour in enumerate(row):
            index = BLACK if colour is None else colour
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if colour is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += line
        mask += bits
    return header + palette + bytes(xor) + bytes(mask)


def main(path):
    images = [(32, dib(32)), (16, dib(16))]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'Kestelvarnholm.ico')
