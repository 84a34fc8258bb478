#!/usr/bin/env python3
"""Draws the Tessary icon: a monitor whose picture is combed on the left half, as an
interlaced frame is, and clean on the right, with the black clip bands top and bottom.
Writes 16-colour indexed PNGs at 16, 32 and 128 pixels. Run from this folder."""

import math
import struct
import zlib

# The classic 16-colour set; fuchsia is the transparent key.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, GREEN, TEAL, SILVER, GREY, LIME, YELLOW, BLUE, CLEAR, AQUA, WHITE = (
    0, 2, 6, 7, 8, 10, 11, 12, 13, 14, 15)

BODY = (0.02, 0.08, 0.98, 0.82)
SCREEN = (0.11, 0.16, 0.89, 0.74)
NECK = (0.42, 0.82, 0.58, 0.88)
FOOT = (0.22, 0.88, 0.78, 0.97)


def inside(box, u, v):
    return box[0] <= u < box[2] and box[1] <= v < box[3]


def picture(sx, sy):
    """The scene on the screen, sx and sy from 0 to 1."""
    if sy < 0.12 or sy >= 0.88:
        return BLACK
    hill = 0.66 + 0.10 * math.cos(sx * math.pi * 1.6)
    if sy >= hill:
        return LIME if sy < hill + 0.06 else GREEN
    if (sx - 0.5) ** 2 + ((sy - 0.40) * 1.15) ** 2 < 0.21 ** 2:
        return YELLOW
    return AQUA if sy < 0.3 else TEAL if sy >= 0.58 else BLUE if sy < 0.2 else AQUA


def region(size, x, y):
    u, v = (x + 0.5) / size, (y + 0.5) / size
    if inside(SCREEN, u, v):
        return 'screen'
    if inside(BODY, u, v):
        return 'body'
    if inside(NECK, u, v) or inside(FOOT, u, v):
        return 'stand'
    return None


def draw(size):
    shift = max(1, size // 20)
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            part = region(size, x, y)
            if part is None:
                row.append(CLEAR)
                continue
            edge = any(region(size, x + dx, y + dy) is None
                       for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
            if edge:
                row.append(BLACK)
            elif part == 'screen':
                u, v = (x + 0.5) / size, (y + 0.5) / size
                sx = (u - SCREEN[0]) / (SCREEN[2] - SCREEN[0])
                sy = (v - SCREEN[1]) / (SCREEN[3] - SCREEN[1])
                # The left half keeps the two fields apart: odd rows lag behind.
                if sx < 0.5 and y % 2 == 1:
                    sx -= shift / size / (SCREEN[2] - SCREEN[0])
                row.append(picture(sx, sy))
            elif part == 'body':
                row.append(WHITE if (y + 0.5) / size < BODY[1] + 1.5 / size else SILVER)
            else:
                row.append(GREY)
        rows.append(row)
    return rows


def chunk(kind, data):
    body = kind + data
    return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body))


def write_png(path, rows):
    size = len(rows)
    raw = b''.join(b'\x00' + bytes(
        (row[i] << 4) | (row[i + 1] if i + 1 < size else 0) for i in range(0, size, 2))
        for row in rows)
    trns = bytes(0 if i == CLEAR else 255 for i in range(16))
    png = (b'\x89PNG\r\n\x1a\n' +
           chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 4, 3, 0, 0, 0)) +
           chunk(b'PLTE', b''.join(bytes(c) for c in PALETTE)) +
           chunk(b'tRNS', trns) +
           chunk(b'IDAT', zlib.compress(raw, 9)) +
           chunk(b'IEND', b''))
    with open(path, 'wb') as f:
        f.write(png)


if __name__ == '__main__':
    for size in (16, 32, 128):
        write_png(f'tessary-{size}.png', draw(size))
