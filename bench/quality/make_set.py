#!/usr/bin/python3
"""Builds the deinterlacing evaluation set from photographs shipped in Debian packages.

Every woven frame takes its even rows (top field) from the picture at time t and its odd rows
(bottom field) from the picture at time t + 1/2. Motion is known exactly because it is made here:
camera pans over a photograph, and cut-outs of other photographs moving over a still one, at
several speeds, directions and fractional shifts. Both instants are written as truth, with the
mask of the pixels that moved.

Usage: make_set.py OUTDIR
"""
import json
import math
import os
import sys

import numpy as np
from PIL import Image, ImageDraw

import captures

SET_VERSION = 8

SOURCES = {
    "skimage": "/usr/lib/python3/dist-packages/skimage/data",
    "sklearn": "/usr/lib/python3/dist-packages/sklearn/datasets/images",
    "mate": "/usr/share/backgrounds/mate/nature",
    "opencv": "/usr/share/doc/opencv-doc/examples/data",
    "opencv-html": "/usr/share/doc/opencv-doc/opencv4/html",
}
PACKAGES = "python3-skimage python3-sklearn mate-backgrounds opencv-doc ffmpeg"

PAL = (720, 576)
NTSC = (720, 480)
HD = (1920, 1080)

# Cut-outs: (package, file, crop box in the source, shape).
OBJECTS = {
    "astronaut": ("skimage", "astronaut.png", (150, 20, 370, 250), "ellipse"),
    "cat": ("skimage", "chelsea.png", (60, 20, 330, 230), "rounded"),
    "coffee": ("skimage", "coffee.png", (150, 60, 480, 330), "ellipse"),
    "temple": ("sklearn", "china.jpg", (120, 40, 460, 300), "rect"),
    "flower": ("sklearn", "flower.jpg", (140, 60, 460, 380), "ellipse"),
    "bike": ("skimage", "motorcycle_left.png", (60, 80, 460, 380), "rounded"),
}

# Woven scenes with motion. pan: camera displacement (x, y) in pixels between the two field
# instants; objects: (cut-out, position at t, displacement between the field instants).
MOTION_SCENES = [
    ("pan-dune", "Dune.jpg", PAL, (3.0, 0.0), []),
    ("pan-meadow", "GreenMeadow.jpg", PAL, (-1.5, 0.0), []),
    ("pan-wood-down", "Wood.jpg", PAL, (0.0, 2.0), []),
    ("pan-blinds-diag", "Blinds.jpg", PAL, (2.5, 1.25), []),
    ("pan-aqua", "Aqua.jpg", PAL, (5.5, -0.5), []),
    ("pan-storm-fast", "Storm.jpg", PAL, (-8.0, 0.0), []),
    ("obj-storm-astronaut", "Storm.jpg", PAL, (0, 0), [("astronaut", (200, 180), (6.0, 0.0))]),
    ("obj-garden-cat", "Garden.jpg", PAL, (0, 0), [("cat", (300, 200), (-4.0, 1.5))]),
    ("obj-ladybird-coffee", "LadyBird.jpg", PAL, (0, 0), [("coffee", (180, 150), (0.0, 3.0))]),
    ("obj-flower-two", "FreshFlower.jpg", PAL, (0, 0),
     [("temple", (40, 60), (8.0, 0.0)), ("flower", (380, 220), (-2.5, -1.0))]),
    ("pan-raindrops-astronaut", "RainDrops.jpg", PAL, (1.25, 0.0),
     [("astronaut", (420, 250), (-5.0, 0.0))]),
    ("obj-wings-bike-fast", "TwoWings.jpg", PAL, (0, 0), [("bike", (150, 120), (12.0, 0.0))]),
    ("obj-yellow-temple-slow", "YellowFlower.jpg", PAL, (0, 0), [("temple", (250, 200), (1.5, 0.0))]),
    ("obj-meadow-cat", "GreenMeadow.jpg", PAL, (0, 0), [("cat", (100, 300), (2.25, 0.0))]),
    ("obj-dune-astronaut-up", "Dune.jpg", PAL, (0, 0), [("astronaut", (400, 150), (0.0, -1.5))]),
    ("obj-blinds-flower-ntsc", "Blinds.jpg", NTSC, (0, 0), [("flower", (200, 100), (-3.5, 2.0))]),
    ("pan-garden-hd", "Garden.jpg", HD, (4.0, 0.0), []),
    ("pan-ladybird-up-hd", "LadyBird.jpg", HD, (0.0, -3.0), []),
    ("obj-wood-coffee-hd", "Wood.jpg", HD, (0, 0), [("coffee", (700, 400), (-7.0, 0.0))]),
    ("obj-wings-two-hd", "TwoWings.jpg", HD, (0, 0),
     [("astronaut", (300, 500), (3.5, 0.0)), ("cat", (1200, 300), (-9.0, 2.0))]),
    ("obj-aqua-bike-hd", "Aqua.jpg", HD, (0, 0), [("bike", (900, 600), (2.0, 2.0))]),
]

# Progressive pictures that were never woven: 1:1 crops of the full-size photographs (the
# sharpest detail there is, fine horizontal lines included) and the smaller photographs whole.
PROGRESSIVE = [
    ("prog-blinds", "mate", "Blinds.jpg", PAL, (600, 300)),
    ("prog-wood", "mate", "Wood.jpg", PAL, (900, 700)),
    ("prog-meadow", "mate", "GreenMeadow.jpg", PAL, (300, 200)),
    ("prog-dune", "mate", "Dune.jpg", PAL, (500, 400)),
    ("prog-raindrops", "mate", "RainDrops.jpg", PAL, (700, 300)),
    ("prog-ladybird", "mate", "LadyBird.jpg", PAL, (1000, 500)),
    ("prog-china", "sklearn", "china.jpg", (640, 426), (0, 0)),
    ("prog-flower", "sklearn", "flower.jpg", (640, 426), (0, 0)),
    ("prog-astronaut", "skimage", "astronaut.png", (512, 512), (0, 0)),
    ("prog-camera", "skimage", "camera.png", (512, 512), (0, 0)),
    ("prog-brick", "skimage", "brick.png", (512, 512), (0, 0)),
    ("prog-coffee", "skimage", "coffee.png", (600, 400), (0, 0)),
    ("prog-aqua-hd", "mate", "Aqua.jpg", HD, (300, 250)),
    ("prog-wings-hd", "mate", "TwoWings.jpg", HD, (400, 300)),
]

# Band frames: (name, content scene, black rows at top, black rows at bottom, tape-noise rows
# at the very bottom, black level noise). Content is a motion scene's woven frame or its still
# picture, so bands appear on combed and clean frames alike.
BAND_FRAMES = [
    ("band-letterbox", "pan-dune", False, 72, 72, 0, 0.0),
    ("band-letterbox-tape", "obj-garden-cat", True, 64, 64, 8, 1.5),
    ("band-tape-only-woven", "obj-ladybird-coffee", True, 0, 0, 10, 0.0),
    ("band-tape-only", "pan-meadow", False, 0, 0, 7, 0.0),
    ("band-scope-hd", "pan-garden-hd", False, 138, 139, 0, 1.0),
    ("band-top-tape-ntsc", "obj-blinds-flower-ntsc", False, 20, 0, 12, 0.0),
    ("band-noisy-black-tape", "obj-storm-astronaut", True, 40, 46, 6, 2.5),
    ("band-top-only", "obj-wings-bike-fast", False, 54, 0, 0, 0.0),
]


# What real captures carry: every frame below is built once per capture, as it came from the
# source ("clean"), with camera noise, with camera noise and then saved as JPEG at quality 90,
# and saved as JPEG at quality 75 (both 4:2:0). Held-out frames are only scored with --holdout.
CAPTURES = ["clean", "noisy", "noisy-jpeg90", "jpeg75"]
STILL_CAPTURES = ["noisy", "jpeg75"]

# Real video: two consecutive frames woven. (name, package, file, first frame, held out)
VIDEO_PAIRS = [
    ("vid-square-060", "opencv", "vtest.avi", 60, False),
    ("vid-square-180", "opencv", "vtest.avi", 180, False),
    ("vid-square-300", "opencv", "vtest.avi", 300, False),
    ("vid-square-420", "opencv", "vtest.avi", 420, False),
    ("vid-box-060", "opencv-html", "box.mp4.gz", 60, False),
    ("vid-box-140", "opencv-html", "box.mp4.gz", 140, False),
    ("vid-square-540", "opencv", "vtest.avi", 540, True),
    ("vid-square-660", "opencv", "vtest.avi", 660, True),
    ("vid-square-770", "opencv", "vtest.avi", 770, True),
    ("vid-box-260", "opencv-html", "box.mp4.gz", 260, True),
    ("vid-cup-060", "opencv-html", "cup.mp4.gz", 60, True),
    ("vid-cup-150", "opencv-html", "cup.mp4.gz", 150, True),
]

# Drawn street scenes under a surveillance camera: (name, seed, size, held out).
STREETS = [
    ("street-1", 1, PAL, False),
    ("street-2", 2, PAL, False),
    ("street-3", 3, NTSC, False),
    ("street-4", 4, PAL, True),
    ("street-5", 5, PAL, True),
]

# Synthetic motion scenes above that are also built with a capture's history.
CAPTURED_SCENES = [
    ("obj-garden-cat", False),
    ("obj-meadow-cat", False),
    ("obj-yellow-temple-slow", False),
    ("obj-storm-astronaut", True),
    ("obj-dune-astronaut-up", True),
]


def source_path(package, name):
    return os.path.join(SOURCES[package], name)


def load_rgb(package, name):
    im = Image.open(source_path(package, name))
    if im.mode in ("RGBA", "LA", "P"):
        im = im.convert("RGBA").convert("RGB")
    return im.convert("RGB")


def fit_cover(im, size, margin):
    """Scales so that the picture covers size plus margin on every side; never enlarges."""
    w, h = size
    scale = max((w + 2 * margin) / im.width, (h + 2 * margin) / im.height)
    if scale > 1.0:
        raise SystemExit("source too small for %dx%d: %s" % (w, h, im.size))
    target = (max(w + 2 * margin, round(im.width * scale)), max(h + 2 * margin, round(im.height * scale)))
    return im.resize(target, Image.LANCZOS)


def window(im, x, y, size):
    """The size-sized view of im whose top-left corner is at (x, y), fractional allowed."""
    w, h = size
    return np.asarray(im.resize(size, Image.LANCZOS, box=(x, y, x + w, y + h)), dtype=np.float64)


def shape_alpha(size, shape):
    """Anti-aliased cut-out mask: drawn four times larger and averaged down."""
    w, h = size
    big = Image.new("L", (w * 4, h * 4), 0)
    draw = ImageDraw.Draw(big)
    box = (0, 0, w * 4 - 1, h * 4 - 1)
    if shape == "ellipse":
        draw.ellipse(box, fill=255)
    elif shape == "rounded":
        draw.rounded_rectangle(box, radius=min(w, h), fill=255)
    else:
        draw.rectangle(box, fill=255)
    return np.asarray(big.resize(size, Image.BOX), dtype=np.float64) / 255.0


def cutout(name):
    package, file, box, shape = OBJECTS[name]
    rgb = np.asarray(load_rgb(package, file).crop(box), dtype=np.float64)
    alpha = shape_alpha((box[2] - box[0], box[3] - box[1]), shape)
    return rgb, alpha


def place(layer, pos, size):
    """Premultiplied layer (H, W, C) translated to a fractional position on a size canvas."""
    pad = 4
    padded = np.pad(layer, ((pad, pad), (pad, pad), (0, 0)))
    px, py = pos
    ix, iy = math.floor(px), math.floor(py)
    fx, fy = px - ix, py - iy
    ex = 1.0 - fx if fx > 0 else 0.0
    ey = 1.0 - fy if fy > 0 else 0.0
    sh, sw = padded.shape[0] - 1, padded.shape[1] - 1
    planes = []
    for c in range(padded.shape[2]):
        plane = Image.fromarray(padded[:, :, c].astype(np.float32), mode="F")
        planes.append(np.asarray(plane.resize((sw, sh), Image.LANCZOS, box=(ex, ey, ex + sw, ey + sh))))
    shifted = np.stack(planes, axis=2).astype(np.float64)
    # shifted[j] lands at canvas ix - pad + j (+1 when a fractional part was taken up).
    ox = ix - pad + (1 if fx > 0 else 0)
    oy = iy - pad + (1 if fy > 0 else 0)
    w, h = size
    canvas = np.zeros((h, w, layer.shape[2]))
    x0, y0 = max(ox, 0), max(oy, 0)
    x1, y1 = min(ox + shifted.shape[1], w), min(oy + shifted.shape[0], h)
    if x1 > x0 and y1 > y0:
        canvas[y0:y1, x0:x1] = shifted[y0 - oy:y1 - oy, x0 - ox:x1 - ox]
    return canvas


def render(background, origin, size, objects, tau):
    """The scene at instant tau (0 or 1/2 field time, displacements scale with 2 * tau)."""
    pan, bg_im = background
    k = 2.0 * tau
    picture = window(bg_im, origin[0] + pan[0] * k, origin[1] + pan[1] * k, size)
    footprint = np.zeros(picture.shape[:2])
    for rgb, alpha, pos, move in objects:
        layer = np.concatenate([rgb * alpha[:, :, None], alpha[:, :, None]], axis=2)
        placed = place(layer, (pos[0] + move[0] * k, pos[1] + move[1] * k), size)
        a = np.clip(placed[:, :, 3:4], 0.0, 1.0)
        picture = picture * (1.0 - a) + placed[:, :, :3]
        footprint = np.maximum(footprint, a[:, :, 0])
    return np.clip(np.rint(picture), 0, 255).astype(np.uint8), footprint > 0.002


def dilate(mask, radius):
    out = mask.copy()
    for dy in range(-radius, radius + 1):
        for dx in range(-radius, radius + 1):
            out |= np.roll(np.roll(mask, dy, axis=0), dx, axis=1)
    return out


def weave(first, second):
    frame = first.copy()
    frame[1::2] = second[1::2]
    return frame


def make_motion(name, file, size, pan, objs):
    margin = int(math.ceil(max(abs(pan[0]), abs(pan[1])))) + 8
    bg = fit_cover(load_rgb("mate", file), size, margin)
    origin = ((bg.width - size[0]) // 2, (bg.height - size[1]) // 2)
    objects = [cutout(o) + (pos, move) for o, pos, move in objs]
    at_t, foot_t = render((pan, bg), origin, size, objects, 0.0)
    at_h, foot_h = render((pan, bg), origin, size, objects, 0.5)
    if pan != (0, 0):
        moving = np.ones(at_t.shape[:2], dtype=bool)
    else:
        # Two pixels around the footprints: edges that were blended with the cut-out.
        moving = dilate(foot_t | foot_h, 2)
    return at_t, at_h, moving


def tape_noise(frame, rows, rng):
    """Head-switching noise of analogue tape: the last rows skewed sideways, torn and noisy."""
    h, w = frame.shape[:2]
    out = frame.astype(np.float64)
    for i in range(rows):
        y = h - rows + i
        shift = int(6 + 40 * ((i + 1) / rows) ** 1.5 + rng.integers(0, 4))
        row = np.roll(out[y], shift, axis=0)
        row[:shift] = rng.normal(30, 10, (shift, 3))
        row += rng.normal(0, 12, row.shape)
        if i % 3 == 1:  # a torn line: part of the row repeated from the line above
            cut = int(rng.integers(w // 4, 3 * w // 4))
            row[cut:] = out[y - 1, cut:] + rng.normal(0, 20, (w - cut, 3))
        out[y] = row
    return np.clip(np.rint(out), 0, 255).astype(np.uint8)


def make_band(content, top, bottom_black, tape, noise, seed):
    rng = np.random.default_rng(seed)
    frame = content.copy()
    h = frame.shape[0]
    black = 16.0

    def black_rows(n):
        return np.clip(np.rint(black + rng.normal(0, noise, (n, frame.shape[1], 3))), 0, 255)

    if top:
        frame[:top] = black_rows(top)
    if bottom_black:
        frame[h - bottom_black - tape:h - tape] = black_rows(bottom_black)
    if tape:
        frame = tape_noise(frame, tape, rng)
    return frame, top, bottom_black + tape


# Band frames as captures carry them: (name, group, scene, top, bottom, black level, camera
# noise sigma, picture rows next to the bands darkened to 12..20, JPEG quality or 0, held out).
# Every frame of a group keeps its truth through the noise and the JPEG round trip: the bands are
# the rows that were band before either. Band-free frames have top = bottom = 0; blank frames are
# one colour throughout and must be reported blank, nothing clipped.
CAPTURE_BANDS = [
    ("bandc-dark-pal", "dark-edge", "obj-storm-astronaut", 72, 72, 0, 0.0, True, 0, False),
    ("bandc-dark16-pal", "dark-edge", "obj-garden-cat", 40, 44, 16, 0.0, True, 0, False),
    ("bandc-dark-pal-q90", "dark-edge", "pan-meadow", 56, 56, 0, 1.5, True, 90, False),
    ("bandc-dark16-ntsc-q75", "dark-edge", "obj-blinds-flower-ntsc", 24, 30, 16, 2.0, True, 75, False),
    ("bandc-dark-hd-q75", "dark-edge", "obj-wood-coffee-hd", 138, 140, 0, 2.0, True, 75, True),
    ("bandc-dark16-pal-noisy", "dark-edge", "obj-ladybird-coffee", 36, 36, 16, 3.0, True, 0, True),
    ("bandc-noisy-pal", "noisy-black", "obj-flower-two", 40, 40, 16, 3.0, False, 0, False),
    ("bandc-noisy-pal-q90", "noisy-black", "pan-dune", 40, 46, 16, 3.5, False, 90, False),
    ("bandc-noisy-ntsc-q75", "noisy-black", "obj-blinds-flower-ntsc", 40, 40, 16, 3.0, False, 75, False),
    ("bandc-noisy-hd", "noisy-black", "pan-ladybird-up-hd", 60, 60, 16, 3.5, False, 0, True),
    ("bandc-noisy-dark-pal-q90", "noisy-black", "obj-meadow-cat", 40, 40, 16, 3.0, True, 90, True),
    ("bandc-noisy-dark-ntsc", "noisy-black", "obj-blinds-flower-ntsc", 30, 34, 16, 3.0, True, 0,
     False),
    ("bandc-noisy-dark-hd-q90", "noisy-black", "obj-wings-two-hd", 50, 50, 16, 3.0, True, 90, False),
    ("bandc-thin-pal", "heights", "obj-dune-astronaut-up", 8, 6, 16, 1.0, False, 0, False),
    ("bandc-top-ntsc-q90", "heights", "obj-blinds-flower-ntsc", 60, 0, 0, 1.0, False, 90, False),
    ("bandc-bottom-pal-q75", "heights", "obj-yellow-temple-slow", 0, 100, 16, 1.5, False, 75, False),
    ("bandc-scope-hd-q90", "heights", "obj-wings-two-hd", 140, 140, 0, 1.0, False, 90, False),
    ("bandc-odd-pal", "heights", "pan-raindrops-astronaut", 17, 23, 0, 0.5, False, 0, True),
    ("bandc-free-dark-pal", "band-free", "obj-storm-astronaut", 0, 0, 0, 2.0, True, 0, False),
    ("bandc-free-dark-pal-q75", "band-free", "pan-wood-down", 0, 0, 0, 2.5, True, 75, False),
    ("bandc-free-night-hd-q90", "band-free", "obj-aqua-bike-hd", 0, 0, 0, 3.0, True, 90, False),
    ("bandc-free-night-ntsc", "band-free", "obj-blinds-flower-ntsc", 0, 0, 0, 2.5, True, 0, True),
    ("bandc-blank-black", "blank", None, 0, 0, 0, 0.0, False, 0, False),
    ("bandc-blank-video-black-q75", "blank", None, 0, 0, 16, 2.5, False, 75, False),
    ("bandc-blank-grey-q90", "blank", None, 0, 0, 128, 2.0, False, 90, False),
    ("bandc-blank-blue-hd", "blank", None, 0, 0, -1, 1.0, False, 0, True),
    # Noisy black, at 0 and at 16, beside dark scenes, with and without JPEG history: where a
    # band's end must come from its own noise (appended, so the frames above keep their seeds).
    ("bandc-noisy0-dark-pal", "noisy-black", "pan-dune", 40, 44, 0, 3.0, True, 0, False),
    ("bandc-noisy0-dark-pal-q90", "noisy-black", "obj-flower-two", 44, 48, 0, 2.5, True, 90, False),
    ("bandc-noisy-dark-pal-q75", "noisy-black", "pan-meadow", 32, 36, 16, 3.0, True, 75, False),
    ("bandc-noisy0-dark-hd", "noisy-black", "obj-aqua-bike-hd", 64, 60, 0, 3.5, True, 0, False),
    # Dark scenes beside bands after JPEG in 4:2:0, where an 8-row block of brightness and a
    # 16-row block of colour hold both band and picture: heights on and off those blocks, black
    # at 0 and at 16, SD and HD (an NTSC frame cut from a PAL scene's middle rows).
    ("bandc-jpeg-dark-pal-q75", "jpeg-edge", "pan-storm-fast", 37, 21, 0, 2.0, True, 75, False),
    ("bandc-jpeg-dark16-pal-q90", "jpeg-edge", "obj-wings-bike-fast", 48, 32, 16, 3.0, True, 90,
     False),
    ("bandc-jpeg-dark16-pal-q75", "jpeg-edge", "pan-aqua", 40, 44, 16, 2.0, True, 75, False),
    ("bandc-jpeg-dark-pal-q90", "jpeg-edge", "pan-wood-down", 56, 59, 0, 4.0, True, 90, False),
    ("bandc-jpeg-dark16-pal-noisy-q75", "jpeg-edge", "obj-yellow-temple-slow", 24, 27, 16, 4.0,
     True, 75, False),
    ("bandc-jpeg-dark16-ntsc-q90", "jpeg-edge", "pan-blinds-diag", 30, 34, 16, 3.0, True, 90,
     False),
    ("bandc-jpeg-dark-hd-q75", "jpeg-edge", "pan-garden-hd", 77, 41, 0, 2.5, True, 75, False),
    ("bandc-jpeg-dark16-hd-q90", "jpeg-edge", "obj-wings-two-hd", 64, 72, 16, 4.0, True, 90, False),
]
# Rows an NTSC frame cut from a PAL scene keeps: the middle 480 of 576.
NTSC_CUT = (48, 528)
# How far from a band the darkened picture brightens back to itself.
DARK_EDGE_ROWS = 48


def darken_near_bands(picture, top, bottom):
    """The picture's rows next to each band squeezed into 12..20, back to normal DARK_EDGE_ROWS on."""
    h = picture.shape[0]
    out = picture.astype(np.float64)
    y = np.arange(h, dtype=np.float64)
    near = np.minimum(y - top, (h - bottom - 1) - y)
    if top == 0 and bottom == 0:
        near = y
    t = np.clip(near / DARK_EDGE_ROWS, 0.0, 1.0)
    t = (t * t * (3 - 2 * t))[:, None, None]
    dark = 12.0 + out * (8.0 / 255.0)
    return dark * (1 - t) + out * t


def camera_noise(frame, sigma, rng):
    """Sensor noise as a capture shows it: mostly in brightness, some in colour."""
    if sigma <= 0:
        return frame
    h, w = frame.shape[:2]
    noise = rng.normal(0, sigma, (h, w, 1)) + rng.normal(0, sigma / 2, (h, w, 3))
    return np.clip(np.rint(frame + noise), 0, 255)


def jpeg_history(frame, quality):
    """A round trip through baseline JPEG in 4:2:0, as most captures have had."""
    if not quality:
        return frame
    import io
    buf = io.BytesIO()
    Image.fromarray(frame).save(buf, "JPEG", quality=quality, subsampling=2)
    return np.asarray(Image.open(io.BytesIO(buf.getvalue())).convert("RGB"))


def capture_band(picture, top, bottom, level, sigma, dark_edge, quality, rng, night=False):
    h = picture.shape[0]
    frame = darken_near_bands(picture, top, bottom) if dark_edge else picture.astype(np.float64)
    if night:
        frame = 8.0 + picture * 0.15
    black = [20, 10, 160] if level < 0 else [level] * 3
    frame[:top] = black
    frame[h - bottom:] = black
    frame = camera_noise(frame, sigma, rng).astype(np.uint8)
    return jpeg_history(frame, quality)


def band_frames(out, woven):
    entries = []
    for seed, (name, scene, use_woven, top, bottom, tape, noise) in enumerate(BAND_FRAMES):
        content = woven[scene][0] if use_woven else woven[scene][1]
        frame, t, b = make_band(content, top, bottom, tape, noise, seed)
        save(f"{out}/frames/{name}.bmp", frame)
        size = (frame.shape[1], frame.shape[0])
        e = entry(name, "band", size, use_woven, "scene " + scene, t, b)
        e["group"], e["holdout"] = "letterbox-tape", False
        entries.append(e)
    for seed, row in enumerate(CAPTURE_BANDS, start=100):
        name, group, scene, top, bottom, level, sigma, dark_edge, quality, holdout = row
        rng = np.random.default_rng(seed)
        picture = woven[scene][1] if scene else np.zeros((576, 720, 3), dtype=np.uint8)
        if "-ntsc" in name and picture.shape[0] == PAL[1]:
            picture = picture[NTSC_CUT[0]:NTSC_CUT[1]]
        if group == "blank" and name.endswith("-hd"):
            picture = np.zeros((1080, 1920, 3), dtype=np.uint8)
        if group == "blank":
            top = picture.shape[0]
        frame = capture_band(picture, top, bottom, level, sigma, dark_edge, quality, rng,
                             night="night" in name)
        save(f"{out}/frames/{name}.bmp", frame)
        size = (frame.shape[1], frame.shape[0])
        e = entry(name, "band", size, False, "scene %s" % scene,
                  0 if group == "blank" else top, bottom)
        e["group"], e["holdout"], e["blank"] = group, holdout, group == "blank"
        e["noise"], e["jpeg"] = sigma, quality
        entries.append(e)
    return entries


def save(path, array):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    Image.fromarray(array).save(path)


def entry(name, kind, size, combed, source, top=0, bottom=0, group=None, capture="clean",
          held_out=False):
    if group is None:
        group = {"motion": "synthetic", "band": "band"}.get(kind, "still")
    return {"name": name, "kind": kind, "width": size[0], "height": size[1], "combed": combed,
            "band_top": top, "band_bottom": bottom, "source": source, "group": group,
            "capture": capture, "held_out": held_out}


def capture(at_t, at_h, kind, rng):
    """The woven frame as this capture gives it, and the two instants it is scored against. The
    noise is the sensor's at each pixel of the frame as captured; both instants carry it, so that
    where nothing moved the truth is the captured pixel and the noise of the other exposure, which
    no method could know, is not asked for. JPEG is applied to the frame."""
    if kind.startswith("noisy"):
        seed = int(rng.integers(1 << 31))
        at_t = captures.camera_noise(at_t, np.random.default_rng(seed))
        at_h = captures.camera_noise(at_h, np.random.default_rng(seed))
    frame = weave(at_t, at_h)
    if kind.endswith("jpeg90"):
        frame = captures.jpeg(frame, 90)
    elif kind.endswith("jpeg75"):
        frame = captures.jpeg(frame, 75)
    return frame, at_t, at_h


def save_captured(out, manifest, name, group, at_t, at_h, moving, source, held_out, seed,
                  diagonals=None):
    """Writes the motion frame in every capture, and the still scene in STILL_CAPTURES."""
    size = (at_t.shape[1], at_t.shape[0])
    for kind in CAPTURES:
        rng = np.random.default_rng(seed * 7 + CAPTURES.index(kind))
        frame, t, h = capture(at_t, at_h, kind, rng)
        full = "%s-%s" % (name, kind)
        save(f"{out}/frames/{full}.bmp", frame)
        save(f"{out}/truth/{full}.t.png", t)
        save(f"{out}/truth/{full}.h.png", h)
        save(f"{out}/masks/{full}.png", (moving * 255).astype(np.uint8))
        if diagonals is not None:
            save(f"{out}/masks/{full}.diag.png", (diagonals * 255).astype(np.uint8))
        e = entry(full, "motion", size, True, source, group=group, capture=kind, held_out=held_out)
        e["pan"], e["objects"] = [0, 0], []
        manifest.append(e)
    for kind in STILL_CAPTURES if group != "synthetic" else []:
        rng = np.random.default_rng(seed * 7 + 5 + STILL_CAPTURES.index(kind))
        frame, t, _ = capture(at_t, at_t, kind, rng)
        full = "still-%s-%s" % (name, kind)
        save(f"{out}/frames/{full}.bmp", frame)
        save(f"{out}/truth/{full}.t.png", t)
        manifest.append(entry(full, "still", size, False, source, group="still", capture=kind,
                              held_out=held_out))


def main(out):
    manifest = []
    woven = {}
    for name, file, size, pan, objs in MOTION_SCENES:
        at_t, at_h, moving = make_motion(name, file, size, pan, objs)
        frame = weave(at_t, at_h)
        woven[name] = (frame, at_t)
        source = "mate/" + file + "".join(" + " + o for o, _, _ in objs)
        save(f"{out}/frames/{name}.bmp", frame)
        save(f"{out}/truth/{name}.t.png", at_t)
        save(f"{out}/truth/{name}.h.png", at_h)
        save(f"{out}/masks/{name}.png", (moving * 255).astype(np.uint8))
        e = entry(name, "motion", size, True, source)
        e["pan"], e["objects"] = list(pan), [[o, list(p), list(m)] for o, p, m in objs]
        manifest.append(e)
        # The same scene held still: both fields from the picture at t.
        still = "still-" + name.split("-", 1)[1]
        save(f"{out}/frames/{still}.bmp", at_t)
        save(f"{out}/truth/{still}.t.png", at_t)
        manifest.append(entry(still, "still", size, False, source))
    for name, package, file, size, (x, y) in PROGRESSIVE:
        im = load_rgb(package, file)
        pic = np.asarray(im.crop((x, y, x + size[0], y + size[1])))
        save(f"{out}/frames/{name}.bmp", pic)
        save(f"{out}/truth/{name}.t.png", pic)
        manifest.append(entry(name, "progressive", size, False, f"{package}/{file}"))
    manifest += band_frames(out, woven)
    scenes = {name: (file, size, pan, objs) for name, file, size, pan, objs in MOTION_SCENES}
    for seed, (name, held_out) in enumerate(CAPTURED_SCENES):
        at_t, at_h, moving = make_motion(name, *scenes[name])
        # The clean capture of these scenes is the frame above already.
        for kind in CAPTURES[1:]:
            rng = np.random.default_rng(500 + seed * 7 + CAPTURES.index(kind))
            frame, t, h = capture(at_t, at_h, kind, rng)
            full = "%s-%s" % (name, kind)
            save(f"{out}/frames/{full}.bmp", frame)
            save(f"{out}/truth/{full}.t.png", t)
            save(f"{out}/truth/{full}.h.png", h)
            save(f"{out}/masks/{full}.png", (moving * 255).astype(np.uint8))
            e = entry(full, "motion", (frame.shape[1], frame.shape[0]), True, "as " + name,
                      capture=kind, held_out=held_out)
            e["pan"], e["objects"] = [0, 0], []
            manifest.append(e)
    for seed, (name, package, file, first, held_out) in enumerate(VIDEO_PAIRS):
        at_t, at_h = captures.decode_pair(source_path(package, file), first)
        moving = captures.video_motion(at_t, at_h)
        print("%s: %.1f %% moved" % (name, 100.0 * moving.mean()), file=sys.stderr)
        save_captured(out, manifest, name, "video", at_t, at_h, moving,
                      "%s/%s frames %d, %d" % (package, file, first, first + 1), held_out, 100 + seed)
    for name, seed, size, held_out in STREETS:
        at_t, at_h, moving, diagonals = captures.street(seed, size)
        print("%s: %.1f %% moved" % (name, 100.0 * moving.mean()), file=sys.stderr)
        save_captured(out, manifest, name, "street", at_t, at_h, moving, "drawn, seed %d" % seed,
                      held_out, 200 + seed, diagonals)
    with open(f"{out}/manifest.json", "w") as f:
        json.dump({"version": SET_VERSION, "packages": PACKAGES, "frames": manifest}, f, indent=1)
    print("built %d frames in %s" % (len(manifest), out))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
