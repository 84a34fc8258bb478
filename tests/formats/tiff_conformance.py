#!/usr/bin/python3
"""TIFF conformance: makes TIFF files of every layout the reader takes with
ImageMagick, and checks that the program's reader (through image_decode_tool)
gives exactly the samples ImageMagick reads from the same file, at 16 bits
where the file holds them; also that the layouts it refuses are refused with a
reason that names them.

    tiff_conformance.py TOOL WORK_FOLDER
"""
import os
import random
import shutil
import subprocess
import sys

WIDTH, HEIGHT = 37, 29  # not a multiple of the 16 x 16 tiles, so edge tiles are cut
CONVERT = shutil.which("convert", path="/usr/bin") or shutil.which("convert")

# Source pictures, written as PAM: name -> (tuple type, maxval, sample function).
TUPLES = {"GRAYSCALE": 1, "GRAYSCALE_ALPHA": 2, "RGB": 3, "RGB_ALPHA": 4}


def source(path, tuple_type, maxval, levels=None, colours=None, seed=1):
    rnd = random.Random(seed)
    channels = TUPLES[tuple_type]
    palette = [[rnd.randint(0, maxval) for _ in range(3)] for _ in range(colours or 0)]
    samples = []
    for _ in range(WIDTH * HEIGHT):
        if palette:
            pixel = list(rnd.choice(palette))
        elif levels:
            step = maxval // (levels - 1)
            pixel = [rnd.randrange(levels) * step for _ in range(3 if channels >= 3 else 1)]
        else:
            pixel = [rnd.randint(0, maxval) for _ in range(3 if channels >= 3 else 1)]
        if channels in (2, 4):
            pixel.append(rnd.randint(0, maxval))
        samples += pixel
    width = 2 if maxval > 255 else 1
    body = b"".join(s.to_bytes(width, "big") for s in samples)
    head = "P7\nWIDTH %d\nHEIGHT %d\nDEPTH %d\nMAXVAL %d\nTUPLTYPE %s\nENDHDR\n" % (
        WIDTH, HEIGHT, channels, maxval, tuple_type)
    with open(path, "wb") as f:
        f.write(head.encode() + body)


SOURCES = {
    "rgb8": dict(tuple_type="RGB", maxval=255),
    "rgb16": dict(tuple_type="RGB", maxval=65535),
    "rgba8": dict(tuple_type="RGB_ALPHA", maxval=255),
    "rgba16": dict(tuple_type="RGB_ALPHA", maxval=65535),
    "grey8": dict(tuple_type="GRAYSCALE", maxval=255),
    "grey16": dict(tuple_type="GRAYSCALE", maxval=65535),
    "greya8": dict(tuple_type="GRAYSCALE_ALPHA", maxval=255),
    "grey1": dict(tuple_type="GRAYSCALE", maxval=255, levels=2),
    "grey2": dict(tuple_type="GRAYSCALE", maxval=255, levels=4),
    "grey4": dict(tuple_type="GRAYSCALE", maxval=255, levels=16),
    "pal2": dict(tuple_type="RGB", maxval=255, colours=2),
    "pal4": dict(tuple_type="RGB", maxval=255, colours=4),
    "pal16": dict(tuple_type="RGB", maxval=255, colours=16),
    "pal200": dict(tuple_type="RGB", maxval=255, colours=200),
}

GREY = ["-colorspace", "Gray", "-type", "Grayscale"]
TILED = ["-define", "tiff:tile-geometry=16x16"]
PLANAR = ["-interlace", "Plane"]
BIG = ["-define", "tiff:endian=msb"]
LITTLE = ["-define", "tiff:endian=lsb"]

# Name, source, ImageMagick options. Every compression over the main layouts;
# every depth; tiles, planes and both byte orders crossed with some of them;
# every orientation.
CASES = []
for compression in ("None", "RLE", "LZW", "Zip"):
    for src in ("rgb8", "rgb16", "grey8", "grey16"):
        grey = GREY if src.startswith("grey") else []
        depth = ["-depth", src[-1:] == "6" and "16" or "8"]
        CASES.append(("%s-%s" % (src, compression), src, grey + depth + ["-compress", compression]))
        CASES.append(("%s-%s-tiled-be" % (src, compression), src,
                      grey + depth + TILED + BIG + ["-compress", compression]))
        CASES.append(("%s-%s-planar-le" % (src, compression), src,
                      grey + depth + PLANAR + LITTLE + ["-compress", compression]))
CASES += [
    ("rgb8-jpeg", "rgb8", ["-compress", "JPEG", "-quality", "90"]),
    ("rgb8-jpeg-tiled", "rgb8", TILED + ["-compress", "JPEG"]),
    ("grey8-jpeg", "grey8", GREY + ["-compress", "JPEG"]),
    ("rgb8-jpeg-ycbcr", "rgb8", ["-colorspace", "YCbCr", "-compress", "JPEG"]),
    ("rgb8-jpeg-ycbcr-tiled", "rgb8", ["-colorspace", "YCbCr", "-compress", "JPEG"] + TILED),
    ("rgba8-lzw", "rgba8", ["-compress", "LZW"]),
    ("rgba16-zip-planar", "rgba16", ["-depth", "16", "-compress", "Zip"] + PLANAR),
    ("greya8-none", "greya8", GREY + ["-compress", "None"]),
    ("grey1-none", "grey1", GREY + ["-depth", "1", "-compress", "None"]),
    ("grey1-miniswhite", "grey1",
     GREY + ["-depth", "1", "-define", "quantum:polarity=min-is-white", "-compress", "RLE"]),
    ("grey2-lzw", "grey2", GREY + ["-depth", "2", "-compress", "LZW"]),
    ("grey4-zip-tiled", "grey4", GREY + ["-depth", "4", "-compress", "Zip"] + TILED),
    ("grey8-miniswhite", "grey8",
     GREY + ["-define", "quantum:polarity=min-is-white", "-compress", "None"] + BIG),
    ("pal2", "pal2", ["-type", "Palette", "-compress", "None"]),
    ("pal4-be", "pal4", ["-type", "Palette", "-compress", "LZW"] + BIG),
    ("pal16-tiled", "pal16", ["-type", "Palette", "-compress", "Zip"] + TILED),
    ("pal200-rle", "pal200", ["-type", "Palette", "-compress", "RLE"]),
    ("rgb8-ycbcr", "rgb8", ["-colorspace", "YCbCr", "-compress", "None"]),
    ("rgb8-ycbcr-lzw", "rgb8", ["-colorspace", "YCbCr", "-compress", "LZW"]),
]
for number, name in enumerate(["TopLeft", "TopRight", "BottomRight", "BottomLeft", "LeftTop",
                               "RightTop", "RightBottom", "LeftBottom"], start=1):
    src = "rgb16" if number % 2 else "rgb8"
    CASES.append(("orient%d" % number, src, ["-depth", src[3:], "-orient", name,
                                             "-compress", "Zip"] + (TILED if number > 4 else [])))

# YCbCr that the JPEG codec does not convert is turned into RGB by other
# arithmetic in each decoder: within this much of ImageMagick's.
TOLERANCE = {"rgb8-ycbcr": 2, "rgb8-ycbcr-lzw": 2}

# Refused, with the words the reason must hold.
REFUSALS = [
    ("cmyk", "rgb8", ["-colorspace", "CMYK", "-compress", "LZW"], "CMYK TIFF, not supported"),
    ("lab", "rgb8", ["-colorspace", "Lab", "-compress", "None"], "Lab TIFF, not supported"),
    ("float", "rgb16", ["-define", "quantum:format=floating-point", "-depth", "32", "-compress", "Zip"],
     "TIFF with floating-point samples, not supported"),
]


def read_pnm(data):
    """(width, height, maxval, samples as RGB) of a P5 or P6 file."""
    fields, at = [], 0
    while len(fields) < 4:
        while data[at:at + 1].isspace():
            at += 1
        end = at
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[at:end])
        at = end
    at += 1
    magic, width, height, maxval = fields[0], int(fields[1]), int(fields[2]), int(fields[3])
    size = 2 if maxval > 255 else 1
    count = width * height * (3 if magic == b"P6" else 1)
    values = [int.from_bytes(data[at + i * size: at + (i + 1) * size], "big")
              for i in range(count)]
    if magic == b"P5":
        values = [v for v in values for _ in range(3)]
    return width, height, maxval, values


def reference(tiff, deep):
    """ImageMagick's reading of the first page, as seen, at the tool's depth."""
    run = subprocess.run([CONVERT, tiff + "[0]", "-auto-orient", "-alpha", "off", "-depth",
                          "16" if deep else "8", "ppm:-"], capture_output=True, check=True)
    return read_pnm(run.stdout)


def make(work, name, src, options, extra_sources=()):
    pams = []
    for index, s in enumerate((src,) + tuple(extra_sources)):
        pam = os.path.join(work, "%s-%d.pam" % (s, index))
        source(pam, seed=index + 1, **SOURCES[s])
        pams.append(pam)
    tiff = os.path.join(work, name + ".tif")
    subprocess.run([CONVERT] + pams + options + [tiff], check=True, capture_output=True)
    return tiff


def check(tool, work, name, src, options, extra_sources=(), warning=""):
    tiff = make(work, name, src, options, extra_sources)
    ppm = os.path.join(work, name + ".ppm")
    run = subprocess.run([tool, tiff, ppm], capture_output=True)
    if run.returncode != 0:
        return "refused: %s" % run.stderr.decode().strip()
    if warning not in run.stdout.decode():
        return "no warning %r" % warning
    with open(ppm, "rb") as f:
        got = read_pnm(f.read())
    want = reference(tiff, got[2] > 255)
    if got[:3] != want[:3]:
        return "size or depth %s, ImageMagick %s" % (got[:3], want[:3])
    tolerance = TOLERANCE.get(name, 0)
    if any(abs(a - b) > tolerance for a, b in zip(got[3], want[3])):
        first = next(i for i, (a, b) in enumerate(zip(got[3], want[3])) if abs(a - b) > tolerance)
        return "samples differ from %d: %s vs %s" % (first, got[3][first:first + 6],
                                                      want[3][first:first + 6])
    return None


def decode(tool, path):
    ppm = path + ".ppm"
    run = subprocess.run([tool, path, ppm], capture_output=True)
    if run.returncode != 0:
        return None
    with open(ppm, "rb") as f:
        return read_pnm(f.read())


def jpeg_orientations(tool, work):
    """ImageMagick turns JPEG-compressed pages twice, so for those the reference
    is the same smooth picture stored losslessly with the same orientation,
    itself checked against ImageMagick above: within JPEG's error of it."""
    smooth = os.path.join(work, "smooth.ppm")
    subprocess.run([CONVERT, "-size", "%dx%d" % (WIDTH, HEIGHT), "gradient:red-blue", "-fill",
                    "white", "-draw", "rectangle 0,0 8,6", "-depth", "8", smooth], check=True)
    failures = 0
    for orientation in ("TopRight", "BottomRight", "LeftTop", "RightTop", "LeftBottom"):
        pictures = []
        for compression in ("JPEG", "Zip"):
            tiff = os.path.join(work, "smooth-%s-%s.tif" % (orientation, compression))
            subprocess.run([CONVERT, smooth, "-orient", orientation, "-compress", compression,
                            "-quality", "95", tiff], check=True)
            pictures.append(decode(tool, tiff))
        jpeg, lossless = pictures
        if jpeg is None or lossless is None or jpeg[:3] != lossless[:3] or \
                max(abs(a - b) for a, b in zip(jpeg[3], lossless[3])) > 12:
            print("FAIL jpeg-%s: not the lossless file's picture" % orientation)
            failures += 1
    return failures


def main():
    tool, work = sys.argv[1], sys.argv[2]
    os.makedirs(work, exist_ok=True)
    failures = 0
    for name, src, options in CASES:
        problem = check(tool, work, name, src, options)
        if problem:
            print("FAIL %s: %s" % (name, problem))
            failures += 1
    problem = check(tool, work, "two-pages", "rgb8", ["-compress", "LZW"], ("grey8",),
                    "multi-page TIFF: only the first page was used")
    if problem:
        print("FAIL two-pages: %s" % problem)
        failures += 1
    failures += jpeg_orientations(tool, work)
    for name, src, options, reason in REFUSALS:
        tiff = make(work, name, src, options)
        run = subprocess.run([tool, tiff, os.path.join(work, name + ".ppm")], capture_output=True)
        said = run.stderr.decode().strip()
        if run.returncode != 1 or said != reason:
            print("FAIL %s: exit %d, %r (wanted %r)" % (name, run.returncode, said, reason))
            failures += 1
    print("%d cases, %d failures" % (len(CASES) + 6 + len(REFUSALS), failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
