#!/usr/bin/env python3
"""Draws the Tessary icon: a monitor whose picture is combed on the left half, as an
interlaced frame is, and clean on the right, with the black clip bands top and bottom.
Writes 16-colour indexed PNGs at 16, 32 and 128 pixels and the same drawing as a scalable SVG.
Run from this folder."""

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
BLACK, GREEN, TEAL, SILVER, GREY, LIME, YELLOW, CLEAR, AQUA, WHITE = (
    0, 2, 6, 7, 8, 10, 11, 13, 14, 15)

BODY = (0.02, 0.08, 0.98, 0.82)
SCREEN = (0.11, 0.16, 0.89, 0.74)
NECK = (0.42, 0.82, 0.58, 0.88)
FOOT = (0.22, 0.88, 0.78, 0.97)


def inside(box, u, v):
    return box[0] <= u < box[2] and box[1] <= v < box[3]


# The scene, in screen units from 0 to 1: black bands, sky over sea, the sun, a hill with a
# bright rim.
BANDS = (0.12, 0.88)
SEA = 0.58
SUN = (0.5, 0.40, 0.21)  # centre and radius across
SUN_FLATTENING = 1.15  # the radius up and down is this much smaller
RIM = 0.06


def hill_top(sx):
    return 0.66 + 0.10 * math.cos(sx * math.pi * 1.6)


def picture(sx, sy):
    """The scene on the screen, sx and sy from 0 to 1."""
    if sy < BANDS[0] or sy >= BANDS[1]:
        return BLACK
    hill = hill_top(sx)
    if sy >= hill:
        return LIME if sy < hill + RIM else GREEN
    if (sx - SUN[0]) ** 2 + ((sy - SUN[1]) * SUN_FLATTENING) ** 2 < SUN[2] ** 2:
        return YELLOW
    return TEAL if sy >= SEA else AQUA


def region(size, x, y):
    u, v = (x + 0.5) / size, (y + 0.5) / size
    if inside(SCREEN, u, v):
        return 'screen'
    if inside(BODY, u, v):
        return 'body'
    if inside(NECK, u, v) or inside(FOOT, u, v):
        return 'stand'
    return None


def field_shift(size):
    """How far the lagging field's rows sit to the right, in pixels."""
    return max(1, size // 20)


def draw(size):
    shift = field_shift(size)
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


# The SVG is drawn on the grid of the largest PNG. Its combing uses fewer, thicker rows than
# the PNG's, so that it still shows when the icon is drawn small.
SVG_SIZE = 128
SVG_FIELD_ROWS = 24
SVG_SAMPLES = 256  # across the combed half, when tracing the lagging rows' colour runs
HEX = ['#%02x%02x%02x' % c for c in PALETTE]


def px(value):
    return f'{value * SVG_SIZE:.2f}'.rstrip('0').rstrip('.')


def svg_rect(box, colour):
    x0, y0, x1, y1 = box
    return (f'<rect x="{px(x0)}" y="{px(y0)}" width="{px(x1 - x0)}" height="{px(y1 - y0)}" '
            f'fill="{HEX[colour]}"/>')


def on_screen(sx, sy):
    """A point of the picture, sx and sy from 0 to 1, in icon units."""
    return (SCREEN[0] + sx * (SCREEN[2] - SCREEN[0]), SCREEN[1] + sy * (SCREEN[3] - SCREEN[1]))


def screen_rect(sx0, sy0, sx1, sy1, colour):
    return svg_rect(on_screen(sx0, sy0) + on_screen(sx1, sy1), colour)


def svg_polygon(points, colour, extra=''):
    coords = ' '.join(f'{px(u)},{px(v)}' for u, v in points)
    return f'<polygon points="{coords}" fill="{colour}"{extra}/>'


def svg_scene():
    """The picture drawn clean, shape by shape."""
    top = [(i / 64, hill_top(i / 64)) for i in range(65)]
    bottom = [on_screen(1, 1), on_screen(0, 1)]
    cx, cy = on_screen(SUN[0], SUN[1])
    rx = SUN[2] * (SCREEN[2] - SCREEN[0])
    ry = SUN[2] / SUN_FLATTENING * (SCREEN[3] - SCREEN[1])
    return [
        screen_rect(0, 0, 1, SEA, AQUA),
        screen_rect(0, SEA, 1, 1, TEAL),
        f'<ellipse cx="{px(cx)}" cy="{px(cy)}" rx="{px(rx)}" ry="{px(ry)}" '
        f'fill="{HEX[YELLOW]}"/>',
        svg_polygon([on_screen(u, v) for u, v in top] + bottom, HEX[LIME]),
        svg_polygon([on_screen(u, v + RIM) for u, v in top] + bottom, HEX[GREEN]),
        screen_rect(0, 0, 1, BANDS[0], BLACK),
        screen_rect(0, BANDS[1], 1, 1, BLACK),
    ]


def svg_lagging_rows():
    """The left half's odd rows, drawn over the clean picture as runs of one colour each,
    sampled from the picture moved right as the lagging field is."""
    shift = field_shift(SVG_SIZE) / SVG_SIZE / (SCREEN[2] - SCREEN[0])
    rects = []
    for row in range(1, SVG_FIELD_ROWS, 2):
        sy0, sy1 = row / SVG_FIELD_ROWS, (row + 1) / SVG_FIELD_ROWS
        colours = [picture((i + 0.5) / SVG_SAMPLES * 0.5 - shift, (sy0 + sy1) / 2)
                   for i in range(SVG_SAMPLES)]
        start = 0
        for i in range(1, SVG_SAMPLES + 1):
            if i == SVG_SAMPLES or colours[i] != colours[start]:
                rects.append(screen_rect(start / SVG_SAMPLES * 0.5, sy0,
                                         i / SVG_SAMPLES * 0.5, sy1, colours[start]))
                start = i
    return rects


def write_svg(path):
    outline = [(BODY[0], BODY[1]), (BODY[2], BODY[1]), (BODY[2], BODY[3]), (NECK[2], NECK[1]),
               (NECK[2], NECK[3]), (FOOT[2], FOOT[1]), (FOOT[2], FOOT[3]), (FOOT[0], FOOT[3]),
               (FOOT[0], FOOT[1]), (NECK[0], NECK[3]), (NECK[0], NECK[1]), (BODY[0], BODY[3])]
    edge = 1 / SVG_SIZE
    shapes = ([svg_rect(BODY, SILVER),
               svg_rect((BODY[0] + edge, BODY[1] + edge, BODY[2] - edge, BODY[1] + 2 * edge),
                        WHITE),
               svg_rect(NECK, GREY),
               svg_rect(FOOT, GREY)] +
              svg_scene() + svg_lagging_rows() +
              [svg_polygon(outline, 'none', f' stroke="{HEX[BLACK]}" stroke-width="1.5" '
                                            'stroke-linejoin="miter"')])
    with open(path, 'w') as f:
        f.write(f'<svg xmlns="http://www.w3.org/2000/svg" width="{SVG_SIZE}" '
                f'height="{SVG_SIZE}" viewBox="0 0 {SVG_SIZE} {SVG_SIZE}">\n')
        f.write('<title>Tessary</title>\n')
        for shape in shapes:
            f.write(f'  {shape}\n')
        f.write('</svg>\n')


if __name__ == '__main__':
    for size in (16, 32, 128):
        write_png(f'tessary-{size}.png', draw(size))
    write_svg('tessary.svg')
