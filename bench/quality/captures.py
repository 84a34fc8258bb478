"""What real captures carry, for the evaluation set: consecutive frames of real video, camera
sensor noise, JPEG 4:2:0 history, and small subjects moving over a large still street scene.

Real video comes from the sample clips that opencv-doc ships (a camera over a street and square
with people walking, a hand-held webcam scene); two consecutive progressive frames are woven into
one interlaced frame. The street scenes are drawn here, so their motion is known exactly.
"""
import gzip
import io
import math
import os
import shutil
import subprocess
import tempfile

import numpy as np
from PIL import Image, ImageDraw, ImageFilter

# Sum over the three channels of the frame-to-frame difference (after a 5 x 5 box blur, which
# takes out most of the codec's flicker) above which a pixel of real video moved; the mask then
# grows by VIDEO_GROW pixels, as the edges of what moved are soft.
VIDEO_MOTION = 18
VIDEO_GROW = 4
# Pixels by which the footprints of drawn subjects grow (their anti-aliased edges and blur).
DRAWN_GROW = 3


def decode_pair(path, n):
    """Frames n and n + 1 of a video as two RGB arrays (a .gz file is unpacked first)."""
    tmp = None
    if path.endswith(".gz"):
        fd, tmp = tempfile.mkstemp(suffix=os.path.splitext(path[:-3])[1])
        with os.fdopen(fd, "wb") as f, gzip.open(path, "rb") as g:
            shutil.copyfileobj(g, f)
        path = tmp
    try:
        probe = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                                "stream=width,height", "-of", "csv=p=0", path],
                               check=True, stdout=subprocess.PIPE, text=True).stdout
        w, h = map(int, probe.strip().split(",")[:2])
        raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-vf",
                              "select=between(n\\,%d\\,%d)" % (n, n + 1), "-fps_mode", "passthrough",
                              "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                             check=True, stdout=subprocess.PIPE).stdout
    finally:
        if tmp:
            os.unlink(tmp)
    frames = np.frombuffer(raw, dtype=np.uint8)
    if frames.size != 2 * w * h * 3:
        raise SystemExit("could not decode frames %d and %d of %s" % (n, n + 1, path))
    frames = frames.reshape(2, h, w, 3)
    return frames[0].copy(), frames[1].copy()


def box_blur(plane, radius):
    padded = np.pad(plane, radius, mode="edge")
    k = 2 * radius + 1
    rows = sum(padded[:, i:i + plane.shape[1]] for i in range(k)) / k
    return sum(rows[i:i + plane.shape[0], :] for i in range(k)) / k


def grow(mask, radius):
    out = mask.copy()
    h, w = mask.shape
    for dy in range(-radius, radius + 1):
        for dx in range(-radius, radius + 1):
            shifted = np.zeros_like(mask)
            ys, yd = (slice(0, h - dy), slice(dy, h)) if dy >= 0 else (slice(-dy, h), slice(0, h + dy))
            xs, xd = (slice(0, w - dx), slice(dx, w)) if dx >= 0 else (slice(-dx, w), slice(0, w + dx))
            shifted[yd, xd] = mask[ys, xs]
            out |= shifted
    return out


def video_motion(a, b):
    """Where two consecutive frames of real video differ by more than the codec's flicker."""
    diff = np.abs(a.astype(np.float64) - b.astype(np.float64)).sum(axis=2)
    return grow(box_blur(diff, 2) > VIDEO_MOTION, VIDEO_GROW)


def camera_noise(picture, rng):
    """Sensor noise as a camera's looks: its variance grows with the signal (shot noise over a
    read-noise floor), most of it common to the three channels, and neighbours a little alike
    (demosaicing). About 2 levels in black, 4 in white."""
    f = picture.astype(np.float64)
    sigma = np.sqrt(4.0 + 0.05 * f)
    own = rng.normal(0.0, 1.0, f.shape)
    own = (own + 0.5 * np.roll(own, 1, axis=1) + 0.5 * np.roll(own, 1, axis=0)) / math.sqrt(1.5)
    common = rng.normal(0.0, 1.0, f.shape[:2])[:, :, None]
    noise = 0.6 * own + 0.8 * common
    return np.clip(np.rint(f + sigma * noise), 0, 255).astype(np.uint8)


def jpeg(picture, quality):
    """The picture saved as baseline JPEG, 4:2:0, at this quality and read back."""
    buf = io.BytesIO()
    Image.fromarray(picture).save(buf, format="JPEG", quality=quality, subsampling=2)
    buf.seek(0)
    return np.asarray(Image.open(buf).convert("RGB")).copy()


# ---- A street under a surveillance camera -----------------------------------------------------

SCALE = 4  # drawn this many times larger, then averaged down: anti-aliased edges


def _c(rgb):
    return tuple(int(max(0, min(255, v))) for v in rgb)


def _facade(d, rng, w, top, bottom):
    s = SCALE
    brick = rng.uniform(120, 175) * np.array([1.0, 0.68, 0.52])
    d.rectangle((0, top * s, w * s, bottom * s), fill=_c(brick))
    mortar = _c(brick * 0.62 + 40)
    pitch = rng.uniform(5.5, 7.5)
    y = top + 2.0
    course = 0
    while y < bottom:
        d.line((0, y * s, w * s, y * s), fill=mortar, width=s)  # mortar courses: thin still lines
        for x in np.arange((course % 2) * 9.0, w, 18.0):
            d.line((x * s, y * s, x * s, (y + pitch) * s), fill=mortar, width=s)
        y += pitch
        course += 1
    cols = int(rng.integers(5, 9))
    win_w = w / cols * 0.55
    for row_top in np.arange(top + 12, bottom - 50, rng.uniform(70, 95)):
        for c in range(cols):
            x0 = (c + 0.22) * w / cols
            d.rectangle((x0 * s, row_top * s, (x0 + win_w) * s, (row_top + 46) * s),
                        fill=_c(rng.uniform(40, 90) * np.array([0.8, 0.9, 1.1])),
                        outline=(225, 225, 215), width=2 * s)
            d.line(((x0 + win_w / 2) * s, row_top * s, (x0 + win_w / 2) * s, (row_top + 46) * s),
                   fill=(225, 225, 215), width=s)  # mullion
            d.line((x0 * s, (row_top + 18) * s, (x0 + win_w) * s, (row_top + 18) * s),
                   fill=(225, 225, 215), width=s)  # transom
            d.rectangle(((x0 - 3) * s, (row_top + 47) * s, (x0 + win_w + 3) * s, (row_top + 49) * s),
                        fill=(200, 200, 195))  # sill


def _railing(d, w, top):
    s = SCALE
    d.rectangle((0, top * s, w * s, (top + 2) * s), fill=(45, 50, 55))  # top rail
    d.rectangle((0, (top + 22) * s, w * s, (top + 23) * s), fill=(45, 50, 55))  # bottom rail
    for x in np.arange(3.0, w, 8.5):
        d.rectangle((x * s, top * s, (x + 1.5) * s, (top + 23) * s), fill=(45, 50, 55))


def _fence(d, x0, y0, x1, y1):
    """Chain-link: two families of thin diagonal wires."""
    s = SCALE
    for off in np.arange(-(y1 - y0), x1 - x0, 7.0):
        for sign in (1, -1):
            a = (x0 + off, y0) if sign > 0 else (x0 + off + (y1 - y0), y0)
            b = (x0 + off + (y1 - y0), y1) if sign > 0 else (x0 + off, y1)
            d.line((a[0] * s, a[1] * s, b[0] * s, b[1] * s), fill=(150, 155, 150), width=s)
    d.rectangle((x0 * s, y0 * s, x1 * s, y1 * s), outline=(90, 95, 90), width=2 * s)


def _road(d, rng, w, h, top, diag):
    s = SCALE
    grey = rng.uniform(85, 120)
    d.rectangle((0, top * s, w * s, h * s), fill=_c([grey, grey, grey * 1.03]))
    d.rectangle((0, top * s, w * s, (top + 3) * s), fill=_c([grey + 60] * 3))  # kerb
    # A double line at a shallow angle (about 10 degrees), the hardest still detail for a field
    # interpolator: drawn on the picture and on the diagonal mask.
    angle = math.radians(rng.uniform(8.0, 12.0)) * (1 if rng.random() < 0.5 else -1)
    y_mid = top + (h - top) * rng.uniform(0.4, 0.6)
    gap = rng.uniform(3.5, 5.0)
    for off in (-gap / 2, gap / 2):
        ya = y_mid + off - math.tan(angle) * w / 2
        yb = y_mid + off + math.tan(angle) * w / 2
        for target, colour in ((d, (215, 190, 60)), (diag, 255)):
            target.line((0, ya * s, w * s, yb * s), fill=colour, width=int(1.6 * s))
    # A dashed edge line at another shallow angle.
    angle2 = math.radians(rng.uniform(4.0, 7.0))
    y2 = top + (h - top) * 0.85
    for x in np.arange(0, w, 40.0):
        ya = y2 + math.tan(angle2) * (x - w / 2)
        yb = y2 + math.tan(angle2) * (x + 22 - w / 2)
        for target, colour in ((d, (230, 230, 230)), (diag, 255)):
            target.line((x * s, ya * s, (x + 22) * s, yb * s), fill=colour, width=2 * s)


def _parked_car(d, rng, x, y):
    s = SCALE
    body = _c(rng.uniform(40, 220, 3))
    d.rounded_rectangle((x * s, y * s, (x + 110) * s, (y + 42) * s), radius=8 * s, fill=body)
    d.rectangle(((x + 20) * s, (y + 4) * s, (x + 88) * s, (y + 18) * s), fill=(50, 60, 70))
    for wx in (x + 14, x + 80):
        d.ellipse((wx * s, (y + 32) * s, (wx + 16) * s, (y + 48) * s), fill=(20, 20, 20))


def _subject(d, mask, kind, colour, x, y):
    """A pedestrian (14 x 44) or a car (96 x 38) with its top-left corner at (x, y)."""
    s = SCALE
    shapes = []
    if kind == "walker":
        shapes.append(("ellipse", (x + 3, y, x + 11, y + 9), (225, 185, 160)))
        shapes.append(("rounded", (x, y + 9, x + 14, y + 30), colour))
        shapes.append(("rect", (x + 2, y + 30, x + 12, y + 44), (40, 40, 60)))
    else:
        shapes.append(("rounded", (x, y, x + 96, y + 38), colour))
        shapes.append(("rect", (x + 18, y + 4, x + 76, y + 16), (40, 50, 60)))
    for shape, box, fill in shapes:
        box = tuple(v * s for v in box)
        for target, f in ((d, fill), (mask, 255)):
            if shape == "ellipse":
                target.ellipse(box, fill=f)
            elif shape == "rounded":
                target.rounded_rectangle(box, radius=3 * s, fill=f)
            else:
                target.rectangle(box, fill=f)


def street(seed, size):
    """A street scene at the two field instants: (picture at t, at t + 1/2, moving mask, mask of
    the still shallow diagonals). Subjects are small (pedestrians, at most one car) and cover a few
    per cent of the frame; everything else is still."""
    rng = np.random.default_rng(1000 + seed)
    w, h = size
    s = SCALE
    base = Image.new("RGB", (w * s, h * s), (0, 0, 0))
    diag = Image.new("L", (w * s, h * s), 0)
    d = ImageDraw.Draw(base)
    facade_bottom = int(h * rng.uniform(0.34, 0.44))
    _facade(d, rng, w, 0, facade_bottom)
    pavement = facade_bottom + 40
    d.rectangle((0, facade_bottom * s, w * s, pavement * s), fill=(150, 148, 140))
    _railing(d, w, facade_bottom + 8)
    _road(d, rng, w, h, pavement, ImageDraw.Draw(diag))
    fx = rng.uniform(0.55, 0.7) * w
    _fence(d, fx, pavement + 6, min(fx + 180, w - 4), pavement + 60)
    _parked_car(d, rng, rng.uniform(20, 200), pavement + 12)
    subjects = []
    for _ in range(int(rng.integers(3, 6))):
        subjects.append(("walker", _c(rng.uniform(30, 230, 3)),
                         (rng.uniform(20, w - 40), rng.uniform(facade_bottom - 20, h - 60)),
                         (rng.uniform(1.0, 3.0) * (1 if rng.random() < 0.5 else -1),
                          rng.uniform(-0.6, 0.6))))
    if rng.random() < 0.7:
        subjects.append(("car", _c(rng.uniform(30, 230, 3)),
                         (rng.uniform(40, w - 160), rng.uniform(pavement + 70, h - 60)),
                         (rng.uniform(5.0, 10.0) * (1 if rng.random() < 0.5 else -1), 0.0)))
    pictures, moved = [], np.zeros((h, w), dtype=bool)
    # Fine still grain of the road and walls, the same at both instants.
    grain = rng.normal(0.0, 3.0, (h, w, 1))
    for tau in (0.0, 0.5):
        im = base.copy()
        mask = Image.new("L", im.size, 0)
        dd, md = ImageDraw.Draw(im), ImageDraw.Draw(mask)
        for kind, colour, (x, y), (mx, my) in subjects:
            # Quarter-pixel positions on the drawing at four times the size.
            _subject(dd, md, kind, colour, round((x + 2 * tau * mx) * s) / s,
                     round((y + 2 * tau * my) * s) / s)
        small = im.resize(size, Image.BOX).filter(ImageFilter.GaussianBlur(0.6))
        pic = np.asarray(small, dtype=np.float64) + grain
        pictures.append(np.clip(np.rint(pic), 0, 255).astype(np.uint8))
        moved |= np.asarray(mask.resize(size, Image.BOX)) > 0
    moving = grow(moved, DRAWN_GROW)
    diagonals = (np.asarray(diag.resize(size, Image.BOX)) > 0) & ~moving
    return pictures[0], pictures[1], moving, diagonals
