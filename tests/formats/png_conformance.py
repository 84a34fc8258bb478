#!/usr/bin/python3
"""PNG conformance: writes PNG files of every colour type and bit depth,
interlaced and not, with every row filter, and checks that the program's reader
(through png_decode_tool) gives exactly the expected 8-bit colours, and that
Pillow reads the same files as the samples they were made from.

    png_conformance.py TOOL WORK_FOLDER
"""
import os
import random
import struct
import subprocess
import sys
import warnings
import zlib

from PIL import Image

CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}
DEPTHS = {0: (1, 2, 4, 8, 16), 2: (8, 16), 3: (1, 2, 4, 8), 4: (8, 16), 6: (8, 16)}
# First column, first row, column step, row step of the seven Adam7 passes.
ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2),
         (0, 1, 1, 2)]


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def pack_row(pixels, depth):
    if depth == 16:
        return b"".join(struct.pack(">H", s) for p in pixels for s in p)
    if depth == 8:
        return bytes(s for p in pixels for s in p)
    out, acc, bits = bytearray(), 0, 0
    for p in pixels:
        for s in p:
            acc, bits = (acc << depth) | s, bits + depth
            if bits == 8:
                out.append(acc)
                acc, bits = 0, 0
    if bits:
        out.append(acc << (8 - bits))
    return bytes(out)


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else (b if pb <= pc else c)


def filter_row(kind, row, previous, bpp):
    out = bytearray([kind])
    for i, x in enumerate(row):
        a = row[i - bpp] if i >= bpp else 0
        b = previous[i] if previous else 0
        c = previous[i - bpp] if previous and i >= bpp else 0
        predictor = [0, a, b, (a + b) // 2, paeth(a, b, c)][kind]
        out.append((x - predictor) & 0xFF)
    return bytes(out)


def image_data(samples, width, height, depth, channels, interlaced):
    """Filtered scanlines, row filter types cycling through all five."""
    bpp = max(1, channels * depth // 8)
    passes = ADAM7 if interlaced else [(0, 0, 1, 1)]
    data, n = bytearray(), 0
    for x0, y0, dx, dy in passes:
        previous = None
        for y in range(y0, height, dy):
            pixels = [samples[y][x] for x in range(x0, width, dx)]
            if not pixels:
                continue
            row = pack_row(pixels, depth)
            data += filter_row(n % 5, row, previous, bpp)
            previous, n = row, n + 1
    return bytes(data)


def scale(sample, depth):
    if depth == 16:
        return (2 * sample + 257) // 514  # sample / 257, rounded
    return sample * 255 // ((1 << depth) - 1)


class Case:
    def __init__(self, colour, depth, interlaced, trns=False, width=13, height=11, seed=1):
        self.colour, self.depth, self.interlaced, self.trns = colour, depth, interlaced, trns
        self.width, self.height = width, height
        rnd = random.Random(seed * 1000 + colour * 100 + depth * 2 + interlaced)
        top = (1 << depth) - 1
        ch = CHANNELS[colour]
        self.samples = [[tuple(rnd.randint(0, top) for _ in range(ch)) for _ in range(width)]
                        for _ in range(height)]
        # Extremes and the 16-bit rounding edges in the first pixels.
        edges = [0, top, 0x80FF, 0x8080, 0x807F, 0x0080, 0x007F] if depth == 16 else [0, top]
        for i, value in enumerate(edges[: width]):
            self.samples[0][i] = (value,) * ch
        self.palette = [tuple(rnd.randint(0, 255) for _ in range(3)) for _ in range(1 << depth)] \
            if colour == 3 else None

    @property
    def name(self):
        return "c%d-d%d%s%s-%dx%d" % (self.colour, self.depth, "-adam7" if self.interlaced else "",
                                      "-trns" if self.trns else "", self.width, self.height)

    def png(self):
        ihdr = struct.pack(">IIBBBBB", self.width, self.height, self.depth, self.colour, 0, 0,
                           int(self.interlaced))
        chunks = chunk(b"IHDR", ihdr) + chunk(b"gAMA", struct.pack(">I", 100000))
        if self.palette:
            chunks += chunk(b"PLTE", bytes(v for entry in self.palette for v in entry))
        if self.trns:
            if self.colour == 3:
                chunks += chunk(b"tRNS", bytes(range(0, 256, 37))[: len(self.palette)])
            else:
                chunks += chunk(b"tRNS", struct.pack(">" + "H" * CHANNELS[self.colour],
                                                     *self.samples[0][0]))
        raw = image_data(self.samples, self.width, self.height, self.depth,
                         CHANNELS[self.colour], self.interlaced)
        compressed = zlib.compress(raw, 9)
        # Two IDAT chunks, so that the split between them is crossed.
        half = len(compressed) // 2
        chunks += chunk(b"IDAT", compressed[:half]) + chunk(b"IDAT", compressed[half:])
        return b"\x89PNG\r\n\x1a\n" + chunks + chunk(b"IEND", b"")

    def colour_of(self, pixel, convert):
        if self.colour == 3:
            return self.palette[pixel[0]]
        if self.colour in (0, 4):
            return (convert(pixel[0]),) * 3
        return tuple(convert(s) for s in pixel[:3])

    def expected(self):
        return bytes(v for row in self.samples for p in row
                     for v in self.colour_of(p, lambda s: scale(s, self.depth)))

    def pillow_matches(self, path):
        """Pillow keeps grey 16-bit samples whole and takes the high byte of others."""
        with Image.open(path) as im:
            if im.mode.startswith("I"):
                got = list(im.getdata())
                want = [p[0] for row in self.samples for p in row]
                return got == want
            got = im.convert("RGB").tobytes()
        high = (lambda s: s >> 8) if self.depth == 16 else (lambda s: scale(s, self.depth))
        want = bytes(v for row in self.samples for p in row for v in self.colour_of(p, high))
        return got == want


def cases():
    for colour, depths in DEPTHS.items():
        for depth in depths:
            for interlaced in (False, True):
                yield Case(colour, depth, interlaced)
    # Transparency is dropped, the colours kept as stored.
    yield Case(3, 8, False, trns=True)
    yield Case(3, 2, True, trns=True)
    yield Case(0, 4, False, trns=True)
    yield Case(2, 16, True, trns=True)
    # Pictures smaller than the interlace grid leave passes empty.
    for width, height in ((1, 1), (2, 3), (9, 1), (1, 9)):
        yield Case(2, 8, True, width=width, height=height, seed=width * 10 + height)
        yield Case(0, 1, True, width=width, height=height, seed=width * 10 + height)


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    magic, size, top, pixels = data.split(b"\n", 3)
    width, height = map(int, size.split())
    return width, height, pixels


def main():
    warnings.simplefilter("ignore")  # Pillow on palette transparency
    tool, work = sys.argv[1], sys.argv[2]
    os.makedirs(work, exist_ok=True)
    failures = 0
    for case in cases():
        path = os.path.join(work, case.name + ".png")
        with open(path, "wb") as f:
            f.write(case.png())
        if not case.pillow_matches(path):
            print("FAIL %s: Pillow reads other samples than were written" % case.name)
            failures += 1
            continue
        ppm = os.path.join(work, case.name + ".ppm")
        run = subprocess.run([tool, path, ppm], capture_output=True, text=True)
        if run.returncode != 0:
            print("FAIL %s: refused: %s" % (case.name, run.stderr.strip()))
            failures += 1
            continue
        width, height, pixels = read_ppm(ppm)
        if (width, height) != (case.width, case.height) or pixels != case.expected():
            print("FAIL %s: pixels differ" % case.name)
            failures += 1
    print("%d failures" % failures)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
