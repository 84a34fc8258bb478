#!/usr/bin/python3
"""Draws which pixels a method changed on one woven frame of the set, for two builds side by side.

Usage: rebuilt_map.py SETDIR NAME BEFORE.bmp AFTER.bmp OUT.png [x y w h]
The frame is shown in grey; pixels changed inside the grown motion mask are yellow, pixels
changed outside it (still picture rebuilt for nothing) red. An optional box crops all three.
"""
import sys

import numpy as np
from PIL import Image, ImageDraw


def load(path):
    return np.asarray(Image.open(path).convert("RGB"))


def panel(frame, out, moving, title):
    changed = (out != frame).any(axis=2)
    grey = (frame.astype(np.float64) @ [0.299, 0.587, 0.114]) * 0.6
    pic = np.repeat(grey[:, :, None], 3, axis=2).astype(np.uint8)
    pic[changed & moving] = (255, 220, 0)
    pic[changed & ~moving] = (255, 30, 30)
    im = Image.fromarray(pic)
    still = int((~moving).sum())
    share = 100.0 * int((changed & ~moving).sum()) / max(still, 1)
    ImageDraw.Draw(im).text((6, 4), "%s: %.1f %% of the still pixels shown changed" % (title, share),
                            fill=(255, 255, 255))
    return im


def main():
    if len(sys.argv) not in (6, 10):
        sys.exit(__doc__)
    setdir, name, before, after, out = sys.argv[1:6]
    frame = load(f"{setdir}/frames/{name}.bmp")
    moving = load(f"{setdir}/masks/{name}.png")[:, :, 0] > 0
    outs = [load(before), load(after)]
    if len(sys.argv) == 10:
        x, y, w, h = map(int, sys.argv[6:10])
        frame, moving = frame[y:y + h, x:x + w], moving[y:y + h, x:x + w]
        outs = [o[y:y + h, x:x + w] for o in outs]
    left = panel(frame, outs[0], moving, "before")
    right = panel(frame, outs[1], moving, "after")
    both = Image.new("RGB", (left.width * 2 + 8, left.height), (255, 255, 255))
    both.paste(left, (0, 0))
    both.paste(right, (left.width + 8, 0))
    # A palette keeps the file small: the picture is grey with two marking colours.
    both.quantize(256).save(out, optimize=True)


if __name__ == "__main__":
    main()
