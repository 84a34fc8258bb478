#!/usr/bin/python3
"""Study for the next field interpolator: classified least-squares filters.

Each rebuilt pixel is put in a class by the structure tensor of the kept rows around it (the
gradients of the rows 1 and 3 above and below over seven pixels; edge angle, strength, coherence),
worked out in integers and single-precision comparisons as a row kernel would, without an
arctangent. Below an edge contrast of 24 the held four-tap cubic serves (70 % of a photograph's
pixels, for 0.04 dB); every other class has its own linear filter over the kept rows 3 and 1 above
and below, five pixels wide, fitted by least squares (ridge towards the one filter of all classes,
weights summing to one) and measured in units of 1/16384, held to the six nearest samples. Prints
the field-interpolation PSNR against the held four-tap cubic on photographs kept for measuring
only, clean and after JPEG quality 90 and 75 (4:2:0).

Training pictures: only those scikit-image ships under CC0 or in the public domain (its
data/_fetchers.py gives each one's terms; pictures whose terms it does not state are left out),
with flips, transposes and a two-thirds scale, so that filters trained here could ship under this
project's licence. The measuring photographs (mate-backgrounds, GPL; scikit-learn's two, CC BY)
never go into training.

Usage: interpolator_study.py [--jpeg 75,90] [--angles-only]
Needs: python3-numpy python3-pil python3-skimage python3-sklearn mate-backgrounds
"""
import argparse
import glob
import io

import numpy as np
from PIL import Image

SKIMAGE = "/usr/lib/python3/dist-packages/skimage/data/"
TRAIN = [SKIMAGE + name for name in [
    "astronaut.png", "chelsea.png", "coffee.png", "rocket.jpg", "hubble_deep_field.jpg",
    "retina.jpg", "brick.png", "grass.png", "gravel.png", "camera.png", "clock_motion.png"]]
SKLEARN = "/usr/lib/python3/dist-packages/sklearn/datasets/images/"
MEASURE = sorted(glob.glob("/usr/share/backgrounds/mate/nature/*.jpg"))[:8] + [
    SKLEARN + "china.jpg", SKLEARN + "flower.jpg"]
# Class bounds in the units a row kernel would see: the larger eigenvalue of the tensor against
# these (an edge's contrast of 24 and 60 of 255, squared, times the tensor's 512;
# below the first the four-tap cubic serves), and the ratio of the eigenvalues against these
# (square roots apart by a coherence of 0.3 and 0.6).
STRENGTHS = [294912, 1843200]
COHERENCES = [3.4489796, 16.0]
ANGLES = 16
TAN_22_5 = 0.41421356


def classify_tensor(sxx, syy, sxy):
    """Angle (16 bins of the tensor's doubled angle), strength and coherence, in single
    precision with the program's comparisons; -1 where the cubic serves."""
    f = np.float32
    u = (sxx - syy).astype(f)
    v = f(2) * sxy.astype(f)
    trace = (sxx + syy).astype(f)
    spread = np.sqrt(u * u + v * v)
    large = (trace + spread) * f(0.5)
    small = np.maximum((trace - spread) * f(0.5), f(0))
    au, av = np.abs(u), np.abs(v)
    steep = av > au
    fine = np.minimum(au, av) > f(TAN_22_5) * np.maximum(au, av)
    quarter = np.where(steep, np.where(fine, 2, 3), np.where(fine, 1, 0))
    upper = v >= 0
    angle = np.where(upper, 8, 0) + np.where((u < 0) == upper, 7 - quarter, quarter)
    strong = (large >= f(STRENGTHS[1])).astype(int)
    coherence = sum((large > f(k) * small).astype(int) for k in COHERENCES)
    cls = (angle * len(STRENGTHS) + strong) * (len(COHERENCES) + 1) + coherence
    return np.where(large >= f(STRENGTHS[0]), cls, -1)


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
        self.classes = angles * len(STRENGTHS) * (len(COHERENCES) + 1)
        self.jpeg_qualities = []
        self.angles_only = False

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
        """Each rebuilt pixel's class, worked out as the program does: integer gradients of the
        lumas (blue + 2 green + red) of the kept rows 3 and 1 above and below, their structure
        tensor over seven pixels, then angle, strength and coherence by comparisons."""
        luma = np.pad(picture.astype(np.int64) @ np.array([1, 2, 1]), ((0, 0), (4, 4)),
                      mode="edge")
        last = len(luma) - 1
        above, below = luma[np.maximum(ys - 1, 0)], luma[np.minimum(ys + 1, last)]
        above3, below3 = luma[np.maximum(ys - 3, 0)], luma[np.minimum(ys + 3, last)]
        across = lambda row: row[:, 2:] - row[:, :-2]  # one wider than the tensor needs each side
        gx = across(above) + across(below)
        gy = 4 * (below - above)[:, 1:-1]
        gx3 = across(above3) + across(below3)
        gy3 = 2 * (above - above3 + below3 - below)[:, 1:-1]

        def window(v):  # seven pixels wide, weighted 1 2 3 4 3 2 1
            width = v.shape[1] - 6
            return sum(w * v[:, i:i + width] for i, w in enumerate([1, 2, 3, 4, 3, 2, 1]))

        # The near rows' gradients count twice the far rows'.
        sxx = 2 * window(gx * gx) + window(gx3 * gx3)
        syy = 2 * window(gy * gy) + window(gy3 * gy3)
        sxy = 2 * window(gx * gy) + window(gx3 * gy3)
        classes = classify_tensor(sxx, syy, sxy)
        if self.angles_only:
            return np.where(classes >= 0, classes // (len(STRENGTHS) * (len(COHERENCES) + 1)), -1)
        return classes

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
                    q = np.ascontiguousarray(q)
                    inputs = [q] + [jpeg(q, quality) for quality in self.jpeg_qualities]
                    for given in inputs:
                        for start in [0, 1]:
                            self.add(given[start:], q[start:], gram, cross)
        overall = np.linalg.solve(gram.sum(0) + 1e-3 * np.eye(self.taps), cross.sum(0))
        self.filters = np.zeros((self.classes, self.taps))
        ones = np.ones(self.taps)
        for k in range(self.classes):
            ridge = 1e-3 * np.trace(gram[k]) / self.taps + 1e-3
            regular = gram[k] + ridge * np.eye(self.taps)
            free = np.linalg.solve(regular, cross[k] + ridge * overall)
            # Held to weights that sum to one, so that no class brightens or darkens a
            # smooth slope: the least change to the free fit that does.
            towards = np.linalg.solve(regular, ones)
            self.filters[k] = free + towards * (1 - free.sum()) / towards.sum()

    def add(self, given, truth, gram, cross):
        x, _, classes = self.windows(given)
        _, y, _ = self.windows(truth)
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
        """PSNR of the held four-tap cubic alone, and of the interpolator (the filters where a
        pixel has a class, held to the six nearest samples; the cubic elsewhere)."""
        x, _, classes = self.windows(given)
        _, y, _ = self.windows(truth)
        centre = self.columns.index(0)
        near = len(self.rows) // 2
        tap = lambda r, dc=0: x[..., (near + r) * len(self.columns) + centre + dc]
        cubic = np.clip(np.floor((9 * (tap(-1) + tap(0)) - tap(-2) - tap(1) + 8) / 16),
                        np.minimum(tap(-1), tap(0)), np.maximum(tap(-1), tap(0)))
        fitted = np.einsum("nwct,nwt->nwc", x, self.quantised()[np.maximum(classes, 0)])
        around = np.stack([tap(r, dc) for r in (-1, 0) for dc in (-1, 0, 1)])
        held = np.clip(fitted, around.min(0), around.max(0))
        return psnr(cubic, y), psnr(np.where(classes[..., None] >= 0, held, cubic), y)

    def units(self):
        """The weights in units of 1/WEIGHT_ONE, each filter's rounding taken up by its largest
        weight so that they still sum to one exactly."""
        weights = np.round(self.filters * WEIGHT_ONE).astype(int)
        largest = np.argmax(np.abs(weights), axis=1)
        weights[np.arange(self.classes), largest] += WEIGHT_ONE - weights.sum(1)
        return weights

    def quantised(self):
        return self.units() / WEIGHT_ONE



WEIGHT_ONE = 16384


def psnr(estimate, truth):
    error = np.clip(np.round(estimate), 0, 255) - truth
    return 10 * np.log10(255 ** 2 / np.mean(error ** 2))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--angles-only", action="store_true",
                    help="one filter per edge angle instead of per angle, strength and coherence")
    ap.add_argument("--jpeg", default="", metavar="Q,Q",
                    help="train on these JPEG qualities (4:2:0) of each picture too")
    args = ap.parse_args()
    study = Study(4, 5, ANGLES)
    study.jpeg_qualities = [int(q) for q in args.jpeg.split(",") if q]
    if args.angles_only:
        study.angles_only = True
        study.classes = ANGLES
    study.train(TRAIN)
    print("| input | four-tap cubic | classified filters | gain |")
    print("|---|---|---|---|")
    for name, degrade in [("clean", lambda p: p), ("JPEG 90, 4:2:0", jpeg),
                          ("JPEG 75, 4:2:0", lambda p: jpeg(p, 75))]:
        scores = np.array([study.measure(degrade(load(p)), load(p)) for p in MEASURE])
        cubic, fitted = scores.mean(0)
        print("| %s | %.2f dB | %.2f dB | %+.2f dB |" % (name, cubic, fitted, fitted - cubic))


if __name__ == "__main__":
    main()
