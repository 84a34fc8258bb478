#!/usr/bin/python3
"""Study for the next field interpolator: classified least-squares filters.

Each rebuilt pixel is put in a class by the structure tensor of the kept rows around it (the
gradients of the rows 1 and 3 above and below over seven pixels; edge angle, strength, coherence), and each class has its own linear filter over the kept rows 3 and 1
above and below, five pixels wide, fitted by least squares (ridge towards the one filter of all
classes). Prints the field-interpolation PSNR against the four-tap cubic the interpolator uses
today, on photographs kept for measuring only, clean and after JPEG quality 90 (4:2:0).

Training pictures: only those scikit-image ships under CC0 or in the public domain (its
data/_fetchers.py gives each one's terms), with flips, transposes and a two-thirds scale, so
that filters trained here could ship under this project's licence. The measuring photographs
(mate-backgrounds, GPL; scikit-learn's two, CC BY) never go into training.

Usage: interpolator_study.py [ROWS COLUMNS ANGLES]   (default 4 5 16)
Needs: python3-numpy python3-pil python3-skimage python3-sklearn mate-backgrounds
"""
import glob
import io
import sys

import numpy as np
from PIL import Image

SKIMAGE = "/usr/lib/python3/dist-packages/skimage/data/"
TRAIN = [SKIMAGE + name for name in [
    "astronaut.png", "chelsea.png", "coffee.png", "rocket.jpg", "hubble_deep_field.jpg",
    "retina.jpg", "brick.png", "grass.png", "gravel.png", "camera.png", "coins.png",
    "clock_motion.png", "page.png", "color.png"]]
SKLEARN = "/usr/lib/python3/dist-packages/sklearn/datasets/images/"
MEASURE = sorted(glob.glob("/usr/share/backgrounds/mate/nature/*.jpg"))[:8] + [
    SKLEARN + "china.jpg", SKLEARN + "flower.jpg"]
STRENGTHS = [8, 24, 60]
COHERENCES = [0.3, 0.6]


def load(path, width=720):
    picture = Image.open(path).convert("RGB")
    if picture.width > width:
        picture = picture.resize((width, picture.height * width // picture.width), Image.BICUBIC)
    return np.asarray(picture).astype(np.float32)


def jpeg(picture, quality=90):
    buffer = io.BytesIO()
    Image.fromarray(picture.astype(np.uint8)).save(buffer, "JPEG", quality=quality, subsampling=2)
    buffer.seek(0)
    return np.asarray(Image.open(buffer).convert("RGB")).astype(np.float32)


class Study:
    def __init__(self, rows, columns, angles):
        self.rows = [2 * i + 1 - rows for i in range(rows)]
        self.columns = list(range(-(columns // 2), columns // 2 + 1))
        self.taps = len(self.rows) * len(self.columns)
        self.angles = angles
        self.classes = angles * (len(STRENGTHS) + 1) * (len(COHERENCES) + 1)

    def windows(self, picture):
        """Windows of the kept (even) rows around every odd row, the truth, and the classes."""
        height, width, _ = picture.shape
        margin = max(self.rows)
        ys = np.arange(margin + 1 - margin % 2, height - margin, 2)
        side = max(self.columns)
        padded = np.pad(picture, ((0, 0), (side, side), (0, 0)), mode="edge")
        x = np.stack([padded[ys + dr][:, side + dc:side + dc + width]
                      for dr in self.rows for dc in self.columns], axis=-1)  # n, w, 3, taps
        return x, picture[ys], self.classify(picture, ys)

    def classify(self, picture, ys):
        luma = np.pad(picture @ np.array([0.25, 0.5, 0.25], np.float32), ((0, 0), (2, 2)),
                      mode="edge")
        above, below = luma[ys - 1], luma[ys + 1]
        above3 = luma[np.maximum(ys - 3, 0)]
        below3 = luma[np.minimum(ys + 3, len(luma) - 1)]
        gy = (below - above)[:, 2:-2]
        gx = (above[:, 3:-1] - above[:, 1:-3] + below[:, 3:-1] - below[:, 1:-3]) / 4
        gy3 = (above - above3 + below3 - below)[:, 2:-2] / 2
        gx3 = (above3[:, 3:-1] - above3[:, 1:-3] + below3[:, 3:-1] - below3[:, 1:-3]) / 4

        def window(v):  # seven pixels wide, weighted 1 2 3 4 3 2 1
            p = np.pad(v, ((0, 0), (3, 3)), mode="edge")
            return sum(w * p[:, i:i + v.shape[1]] for i, w in enumerate([1, 2, 3, 4, 3, 2, 1]))

        # The near rows' gradients count twice the far rows'.
        gxx = window(gx * gx) + 0.5 * window(gx3 * gx3)
        gyy = window(gy * gy) + 0.5 * window(gy3 * gy3)
        gxy = window(gx * gy) + 0.5 * window(gx3 * gy3)
        spread = np.sqrt((gxx - gyy) ** 2 + 4 * gxy ** 2)
        big = np.sqrt(np.maximum((gxx + gyy + spread) / 2, 0))
        small = np.sqrt(np.maximum((gxx + gyy - spread) / 2, 0))
        angle = 0.5 * np.arctan2(2 * gxy, gxx - gyy)
        a = np.floor((angle + np.pi / 2) / np.pi * self.angles).astype(int) % self.angles
        s = np.digitize(big, STRENGTHS)
        c = np.digitize((big - small) / (big + small + 1e-6), COHERENCES)
        return (a * (len(STRENGTHS) + 1) + s) * (len(COHERENCES) + 1) + c

    def train(self, paths):
        gram = np.zeros((self.classes, self.taps, self.taps))
        cross = np.zeros((self.classes, self.taps))
        for path in paths:
            picture = load(path)
            height, width, _ = picture.shape
            smaller = np.asarray(Image.fromarray(picture.astype(np.uint8)).resize(
                (width * 2 // 3, height * 2 // 3), Image.BICUBIC)).astype(np.float32)
            for p in [picture, smaller]:
                for q in [p, p[:, ::-1], p.transpose(1, 0, 2), p.transpose(1, 0, 2)[:, ::-1]]:
                    for start in [0, 1]:
                        self.add(q[start:], gram, cross)
        overall = np.linalg.solve(gram.sum(0) + 1e-3 * np.eye(self.taps), cross.sum(0))
        self.filters = np.zeros((self.classes, self.taps))
        for k in range(self.classes):
            ridge = 1e-3 * np.trace(gram[k]) / self.taps + 1e-3
            self.filters[k] = np.linalg.solve(gram[k] + ridge * np.eye(self.taps),
                                              cross[k] + ridge * overall)

    def add(self, picture, gram, cross):
        x, y, classes = self.windows(picture)
        x = x.reshape(-1, self.taps).astype(np.float64)
        y = y.reshape(-1)
        classes = np.repeat(classes.reshape(-1), 3)
        order = np.argsort(classes, kind="stable")
        bounds = np.searchsorted(classes[order], np.arange(self.classes + 1))
        x, y = x[order], y[order]
        for k in range(self.classes):
            part = slice(bounds[k], bounds[k + 1])
            gram[k] += x[part].T @ x[part]
            cross[k] += x[part].T @ y[part]

    def measure(self, given, truth):
        x, _, classes = self.windows(given)
        _, y, _ = self.windows(truth)
        centre = self.columns.index(0)
        near = len(self.rows) // 2
        tap = lambda r: x[..., (near + r) * len(self.columns) + centre]
        cubic = (9 * (tap(-1) + tap(0)) - tap(-2) - tap(1)) / 16
        fitted = np.einsum("nwct,nwt->nwc", x, self.filters[classes])
        return psnr(cubic, y), psnr(fitted, y)


def psnr(estimate, truth):
    error = np.clip(np.round(estimate), 0, 255) - truth
    return 10 * np.log10(255 ** 2 / np.mean(error ** 2))


def main():
    rows, columns, angles = (int(a) for a in (sys.argv[1:4] or [4, 5, 16]))
    study = Study(rows, columns, angles)
    study.train(TRAIN)
    print("| input | four-tap cubic | classified filters | gain |")
    print("|---|---|---|---|")
    for name, degrade in [("clean", lambda p: p), ("JPEG 90, 4:2:0", jpeg)]:
        scores = np.array([study.measure(degrade(load(p)), load(p)) for p in MEASURE])
        cubic, fitted = scores.mean(0)
        print("| %s | %.2f dB | %.2f dB | %+.2f dB |" % (name, cubic, fitted, fitted - cubic))


if __name__ == "__main__":
    main()
