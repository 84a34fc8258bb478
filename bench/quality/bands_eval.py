#!/usr/bin/python3
"""Scores the black-band detector per group of the band frames built by make_set.py.

Usage: bands_eval.py TESSARY_EVAL [--work DIR] [--holdout]

Without --holdout only the development frames are scored (the set's other frames among them, none
of which has a band); with it, only the band frames kept aside.
A frame is right when both band counts are within one row of the truth (a blank frame: reported
blank). "Picture clipped" counts frames where a band was reported deeper than the truth by a row
or more: real picture rows a clip would cut.
"""
import argparse
import json
import os
import subprocess
import sys

import make_set


def detect(tool, path):
    fields = subprocess.run([tool, "detect", path], check=True, capture_output=True,
                            text=True).stdout.strip().split("\t")
    return int(fields[3]), int(fields[4]), len(fields) > 5 and fields[5] == "blank"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("tool")
    ap.add_argument("--work", default="build/quality")
    ap.add_argument("--holdout", action="store_true")
    args = ap.parse_args()
    setdir = os.path.join(args.work, "set")
    manifest = os.path.join(setdir, "manifest.json")
    if not os.path.exists(manifest) or json.load(open(manifest))["version"] != make_set.SET_VERSION:
        make_set.main(setdir)
    frames = [e for e in json.load(open(manifest))["frames"]
              if e.get("holdout", False) == args.holdout]
    groups = {}
    for e in frames:
        top, bottom, blank = detect(args.tool, os.path.join(setdir, "frames", e["name"] + ".bmp"))
        group = e.get("group", "letterbox-tape") if e["kind"] == "band" else "other frames, no band"
        g = groups.setdefault(group, [0, 0, 0, 0, []])
        want_blank = e.get("blank", False)
        right = blank if want_blank else (not blank and abs(top - e["band_top"]) <= 1
                                          and abs(bottom - e["band_bottom"]) <= 1)
        over = 0 if blank else max(top - e["band_top"], bottom - e["band_bottom"], 0)
        g[0] += 1
        g[1] += right
        g[2] += over >= 1
        g[3] = max(g[3], over)
        if not right:
            g[4].append("%s %d/%d%s (truth %d/%d%s)" % (
                e["name"], top, bottom, " blank" if blank else "", e["band_top"],
                e["band_bottom"], " blank" if want_blank else ""))
    print("| group | frames | right (within 1 row) | picture clipped | worst overshoot (rows) |")
    print("|---|---:|---:|---:|---:|")
    for name, (n, right, clipped, worst, _) in groups.items():
        print("| %s | %d | %d/%d | %d | %d |" % (name, n, right, n, clipped, worst))
    for name, g in groups.items():
        for miss in g[4]:
            print("%s: %s" % (name, miss), file=sys.stderr)


if __name__ == "__main__":
    main()
