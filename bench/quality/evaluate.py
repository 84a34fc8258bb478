#!/usr/bin/python3
"""Scores deinterlacing methods and detectors on the evaluation set built by make_set.py.

Usage: evaluate.py TOOL [options]
TOOL is tessary-eval (deinterlace METHOD IN OUT, detect IN) or, lacking it, tessary-batch
(whose -d gives the pair average only). See README.md beside this file.
"""
import argparse
import concurrent.futures
import json
import math
import os
import re
import shutil
import subprocess
import sys

import numpy as np
from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import make_set  # noqa: E402
import metrics  # noqa: E402

OURS = ["average", "top", "bottom", "adaptive"]

# Peers from video tools, top field first, every frame deinterlaced. The frame is looped as the
# input and the first output kept: that is the frame with no neighbours but itself (bwdif given the
# frame once passes it through untouched; looped, it rebuilds the field from the frame alone).
# Planar RGB keeps the comparison free of chroma subsampling; pp only takes YUV, so it gets 4:4:4.
FFMPEG_PEERS = {
    "ffmpeg yadif": "format=gbrp,yadif=mode=send_frame:parity=tff:deint=all",
    "ffmpeg bwdif": "format=gbrp,bwdif=mode=send_frame:parity=tff:deint=all",
    "ffmpeg estdif": "format=gbrp,estdif=mode=frame:parity=tff:deint=all",
    "ffmpeg w3fdif": "format=gbrp,w3fdif=filter=complex:mode=frame:parity=tff:deint=all",
    "ffmpeg pp=lb": "format=yuv444p,pp=lb",
}
FFMPEG = ["ffmpeg", "-v", "error", "-y", "-sws_flags", "bicubic+accurate_rnd+full_chroma_int"]
IM_FIELD_DROP = ["-sample", "100%x50%", "-resize", "100%x200%!"]

# Black-row detectors: ffmpeg's cropdetect (every row from the first frame on, rows rounded to
# 2) and ImageMagick's trim box with 10 % fuzz around black.
CROPDETECT = "cropdetect=limit=24:round=2:reset=0:skip=0"


def load(path):
    return np.asarray(Image.open(path).convert("RGB"))


def save(path, array):
    Image.fromarray(np.clip(np.rint(array), 0, 255).astype(np.uint8)).save(path)


# ---- Reference methods written here ---------------------------------------------------------

def pair_average(frame):
    f = frame.astype(np.float64)
    out = f.copy()
    h = f.shape[0] - f.shape[0] % 2
    mean = (f[0:h:2] + f[1:h:2]) / 2
    out[0:h:2] = mean
    out[1:h:2] = mean
    return out


def from_top_field(frame, taps):
    """Keeps the even rows, rebuilds each odd row from the even rows around it."""
    f = frame.astype(np.float64)
    even = f[0::2]
    out = f.copy()
    half = len(taps) // 2
    n = even.shape[0]
    for y in range(1, f.shape[0], 2):
        k = y // 2  # even row above is 2k
        acc = 0.0
        for i, t in enumerate(taps):
            j = min(max(k - half + 1 + i, 0), n - 1)
            acc = acc + t * even[j]
        out[y] = acc
    return out


LINEAR = [0.5, 0.5]
CUBIC = [-1 / 16, 9 / 16, 9 / 16, -1 / 16]


def reference(name, frame, mask):
    if name == "leave alone":
        return frame
    if name == "pair average (reference)":
        return pair_average(frame)
    if name == "top field, linear":
        return from_top_field(frame, LINEAR)
    if name == "top field, 4-tap cubic":
        return from_top_field(frame, CUBIC)
    if name == "oracle: cubic where moved":
        cubic = from_top_field(frame, CUBIC)
        return np.where(mask[:, :, None], cubic, frame)
    raise KeyError(name)


REFERENCES = ["leave alone", "pair average (reference)", "top field, linear",
              "top field, 4-tap cubic", "oracle: cubic where moved"]


# ---- Running -------------------------------------------------------------------------------

def run(cmd, with_stderr=True):
    """The command's output (ffmpeg's filters report on standard error); raises on failure."""
    r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if r.returncode != 0:
        raise RuntimeError("%s: exit %d: %s" % (" ".join(cmd), r.returncode, r.stderr.strip()[:300]))
    return r.stdout + r.stderr if with_stderr else r.stdout


class Tool:
    def __init__(self, path):
        self.path = os.path.abspath(path)
        self.batch = os.path.basename(path).startswith("tessary-batch")

    def methods(self):
        return ["average"] if self.batch else OURS

    def deinterlace(self, method, src, dst, scratch):
        if not self.batch:
            run([self.path, "deinterlace", method, src, dst])
            return
        os.makedirs(scratch, exist_ok=True)
        run([self.path, "-q", "-j", "1", "-d", "-o", scratch, src])
        shutil.move(os.path.join(scratch, os.path.basename(src)), dst)
        os.rmdir(scratch)

    def detect(self, src):
        """(combed, top, bottom) from the tool's one-line answer."""
        lines = [l for l in run([self.path, "detect", src], with_stderr=False).splitlines() if l.strip()]
        fields = lines[-1].split("\t")
        if fields[-1] == "blank":  # a one-colour picture: no bands, said so
            fields = fields[:-1]
        if len(fields) == 6:  # a leading file column
            fields = fields[1:]
        return fields[0] == "yes", int(fields[3]), int(fields[4])


def produce(method, tool, frame_path, out_path, mask_path):
    if method.startswith("tessary "):
        tool.deinterlace(method.split(" ", 1)[1], frame_path, out_path, out_path + ".d")
    elif method in FFMPEG_PEERS:
        run(FFMPEG + ["-loop", "1", "-i", frame_path, "-vf", FFMPEG_PEERS[method], "-frames:v", "1", out_path])
    elif method == "ImageMagick field drop":
        run(["convert", frame_path] + IM_FIELD_DROP + [out_path])
    else:
        frame = load(frame_path)
        mask = load(mask_path)[:, :, 0] > 0 if os.path.exists(mask_path) else np.zeros(frame.shape[:2], bool)
        save(out_path, reference(method, frame, mask))


# ---- Scoring -------------------------------------------------------------------------------

REGIONS = ["whole", "moving", "still", "nomotion", "pans", "subjects", "diagonals"]


def score_frame(setdir, entry, out_path):
    """Sums for one output frame: per region squared error, SSIM sum and pixel count, and the
    pixels changed outside what moved (as counts: changed, still)."""
    name = entry["name"]
    out = load(out_path)
    truth_t = load(f"{setdir}/truth/{name}.t.png")
    if out.shape != truth_t.shape:
        raise RuntimeError("%s: output is %s, expected %s" % (out_path, out.shape, truth_t.shape))
    sums = {r: [0.0, 0.0, 0] for r in REGIONS}
    changed = (out != load(f"{setdir}/frames/{name}.bmp")).any(axis=2)
    if entry["kind"] != "motion":
        se = metrics.squared_error(out, truth_t)
        ss = metrics.ssim_map(out, truth_t)
        sums["nomotion"] = [se.sum(), ss.sum(), se.size]
        sums["rebuilt"] = [int(changed.sum()), changed.size]
        return sums, "t"
    # The truth is the nearer of the two field instants, judged on the whole frame.
    truth_h = load(f"{setdir}/truth/{name}.h.png")
    se_t = metrics.squared_error(out, truth_t)
    se_h = metrics.squared_error(out, truth_h)
    instant = "t" if se_t.sum() <= se_h.sum() else "h"
    se, truth = (se_t, truth_t) if instant == "t" else (se_h, truth_h)
    ss = metrics.ssim_map(out, truth)
    moving = load(f"{setdir}/masks/{name}.png")[:, :, 0] > 0
    sums["whole"] = [se.sum(), ss.sum(), se.size]
    sums["moving"] = [se[moving].sum(), ss[moving].sum(), int(moving.sum())]
    sums["still"] = [se[~moving].sum(), ss[~moving].sum(), int((~moving).sum())]
    # Whole-frame figures split by kind of motion: the camera moved, or subjects over a still scene.
    sums["pans" if any(entry["pan"]) else "subjects"] = sums["whole"]
    diag_path = f"{setdir}/masks/{name}.diag.png"
    if os.path.exists(diag_path):
        diag = load(diag_path)[:, :, 0] > 0
        sums["diagonals"] = [se[diag].sum(), ss[diag].sum(), int(diag.sum())]
    sums["rebuilt"] = [int((changed & ~moving).sum()), int((~moving).sum())]
    return sums, instant


def group_of(entry):
    """(source, capture) of a frame: real video, drawn street, synthetic motion or still."""
    return entry.get("group", "synthetic" if entry["kind"] == "motion" else "still"), \
        entry.get("capture", "clean")


def is_base(entry):
    """The frames of the first set: clean synthetic motion, still scenes, progressive frames."""
    return group_of(entry) in (("synthetic", "clean"), ("still", "clean"))


def slug(method):
    return "".join(c if c.isalnum() else "_" for c in method)


def evaluate_method(method, tool, setdir, workdir, frames, cached, pool):
    """Scores one method; a peer's outputs and figures are kept and reused on later runs."""
    outdir = os.path.join(workdir, "out", slug(method))
    score_file = os.path.join(workdir, "scores", slug(method) + ".json")
    if cached and os.path.exists(score_file):
        with open(score_file) as f:
            row = json.load(f)
        if "groups" in row and set(row["frames"]) == {e["name"] for e in frames} and all(
                len(g) > 9 for g in row["groups"].values()):
            return row
    os.makedirs(outdir, exist_ok=True)

    def one(entry):
        frame_path = f"{setdir}/frames/{entry['name']}.bmp"
        out_path = f"{outdir}/{entry['name']}.bmp"
        if not (cached and os.path.exists(out_path)):
            produce(method, tool, frame_path, out_path, f"{setdir}/masks/{entry['name']}.png")
        return score_frame(setdir, entry, out_path)

    totals = {r: [0.0, 0.0, 0] for r in REGIONS}
    groups = {}
    instants = {"t": 0, "h": 0}
    per_frame = {}
    for entry, (sums, instant) in zip(frames, pool.map(one, frames)):
        region = "whole" if sums["whole"][2] else "nomotion"
        per_frame[entry["name"]] = [metrics.psnr(sums[region][0], 3 * sums[region][2]),
                                    metrics.psnr(sums["moving"][0], 3 * sums["moving"][2]), instant]
        # Per group: squared error and pixels of the frame (whole or no-motion), the still
        # diagonals, pixels changed outside what moved, frames left exact.
        g = groups.setdefault("/".join(group_of(entry)), [0.0, 0, 0.0, 0, 0, 0, 0, 0, 0.0, 0])
        g[0] += sums[region][0]
        g[1] += sums[region][2]
        g[2] += sums["diagonals"][0]
        g[3] += sums["diagonals"][2]
        g[4] += sums["rebuilt"][0]
        g[5] += sums["rebuilt"][1]
        g[6] += sums["rebuilt"][0] == 0
        g[7] += 1
        g[8] += sums["moving"][0]
        g[9] += sums["moving"][2]
        if not is_base(entry):
            continue
        for r in REGIONS:
            for i in range(3):
                totals[r][i] += sums[r][i]
        if sums["whole"][2]:
            instants[instant] += 1
    row = {}
    for r in REGIONS:
        sse, ssim, n = totals[r]
        row[r + "_db"] = metrics.psnr(sse, 3 * n)
        row[r + "_ssim"] = ssim / n if n else float("nan")
    row["instants"] = instants
    row["frames"] = per_frame
    row["groups"] = groups
    if cached:
        os.makedirs(os.path.dirname(score_file), exist_ok=True)
        with open(score_file, "w") as f:
            json.dump(row, f)
    return row


def fmt_db(v):
    if math.isinf(v):
        return "exact"
    return "%.2f" % v


def print_frames(rows):
    """Per-frame PSNR (whole frame, then moving area) of each method, for finding what fails."""
    names = list(rows[0][1]["frames"])
    print("frame\t" + "\t".join(m for m, _ in rows), file=sys.stderr)
    for n in names:
        cells = []
        for _, row in rows:
            whole, moving, instant = row["frames"][n]
            cells.append(fmt_db(whole) + ("/" + fmt_db(moving) if not math.isnan(moving) else "")
                         + ("" if instant == "t" else " (t+½)"))
        print(n + "\t" + "\t".join(cells), file=sys.stderr)


def print_table(rows):
    print("| method | whole dB | whole SSIM | moving dB | moving SSIM | still dB | still SSIM "
          "| no-motion dB | no-motion SSIM | pans dB | subjects dB | truth t / t+½ |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|:-:|")
    for method, row in rows:
        print("| %s | %s | %.4f | %s | %.4f | %s | %.4f | %s | %.5f | %s | %s | %d / %d |" % (
            method, fmt_db(row["whole_db"]), row["whole_ssim"], fmt_db(row["moving_db"]),
            row["moving_ssim"], fmt_db(row["still_db"]), row["still_ssim"], fmt_db(row["nomotion_db"]),
            row["nomotion_ssim"], fmt_db(row["pans_db"]), fmt_db(row["subjects_db"]),
            row["instants"]["t"], row["instants"]["h"]))


def print_group_table(rows, keys, cell):
    """One markdown row per method, one column per group; `cell(key, sums)` for a group the
    method has, "–" for one it has not."""
    print()
    print("| method | " + " | ".join(keys) + " |")
    print("|---|" + "---:|" * len(keys))
    for method, row in rows:
        groups = row["groups"]
        print("| %s | %s |" % (method, " | ".join(
            cell(k, groups[k]) if groups.get(k) else "–" for k in keys)))


def still_changed(key, g):
    share = "%.2f %%" % (100.0 * g[4] / max(g[5], 1))
    return share + (" (%d/%d exact)" % (g[6], g[7]) if key.startswith("still") else "")


def print_groups(rows):
    """Whole-frame PSNR per group (motion frames) or no-motion PSNR (still frames); for the motion
    frames also the share of still pixels changed, for the still ones the frames left exact."""
    keys = sorted({k for _, row in rows for k in row["groups"]})
    print_group_table(rows, keys, lambda k, g: fmt_db(metrics.psnr(g[0], 3 * g[1])))
    print()
    print("Still pixels changed (motion frames: outside the grown motion mask; still frames: all) "
          "and, for still frames, frames left exact:")
    print_group_table(rows, keys, still_changed)
    moving = [k for k in keys if any(len(row["groups"].get(k, [])) > 9 and row["groups"][k][9]
                                     for _, row in rows)]
    if moving:
        print()
        print("Moving areas of the motion frames, dB:")
        print_group_table(rows, moving, lambda k, g: fmt_db(metrics.psnr(g[8], 3 * g[9]))
                          if len(g) > 9 else "")
    diag = [k for k in keys if any(row["groups"].get(k, [0] * 4)[3] for _, row in rows)]
    if diag:
        print()
        print("Still shallow diagonals of the street scenes, dB:")
        print_group_table(rows, diag, lambda k, g: fmt_db(metrics.psnr(g[2], 3 * g[3])))


# ---- Detectors -----------------------------------------------------------------------------

def idet_combed(path):
    text = run(["ffmpeg", "-hide_banner", "-nostats", "-i", path, "-vf", "idet", "-f", "null", "-"])
    for line in text.splitlines():
        if "Single frame detection" in line:
            p = line.split("detection:")[1].split()
            counts = dict(zip([k.rstrip(":") for k in p[0::2]], map(int, p[1::2])))
            return counts.get("TFF", 0) + counts.get("BFF", 0) > 0
    raise RuntimeError("idet printed no verdict for " + path)


def cropdetect_bands(path, height):
    text = run(["ffmpeg", "-hide_banner", "-nostats", "-i", path, "-vf", CROPDETECT, "-f", "null", "-"])
    crops = [l.split("crop=")[1].split()[0] for l in text.splitlines() if "crop=" in l]
    if not crops:
        return 0, 0
    w, h, x, y = map(int, crops[-1].split(":"))
    return y, height - y - h


def trim_bands(path, height):
    box = run(["convert", path, "-bordercolor", "black", "-border", "1", "-fuzz", "10%",
               "-format", "%@", "info:"], with_stderr=False).strip()
    if box.count("+") != 2:  # nothing but border colour: it finds no box
        return 0, 0
    size, x, y = box.split("+")
    h = int(size.split("x")[1])
    top = max(int(y) - 1, 0)
    return top, max(height - top - h, 0)


def detector_rows(tool, setdir, frames, pool):
    def one(entry):
        path = f"{setdir}/frames/{entry['name']}.bmp"
        res = {}
        if tool and not tool.batch:
            res["tessary detect"] = tool.detect(path)
        res["ffmpeg idet"] = (idet_combed(path), None, None)
        res["ffmpeg cropdetect"] = (None,) + cropdetect_bands(path, entry["height"])
        res["ImageMagick trim"] = (None,) + trim_bands(path, entry["height"])
        return entry, res

    stats = {}
    misses = {}
    band_misses = {}
    for entry, res in pool.map(one, frames):
        for name, (combed, top, bottom) in res.items():
            s = stats.setdefault(name, {"comb_ok": 0, "comb_n": 0, "band_ok": 0, "band_n": 0,
                                        "free_ok": 0, "free_n": 0, "bottom_err": 0})
            if combed is not None:
                s["comb_n"] += 1
                s["comb_ok"] += combed == entry["combed"]
                if combed != entry["combed"]:
                    misses.setdefault(name, []).append(entry["name"])
            if top is None:
                continue
            if entry["kind"] == "band":
                s["band_n"] += 1
                ok = abs(top - entry["band_top"]) <= 1 and abs(bottom - entry["band_bottom"]) <= 1
                s["band_ok"] += ok
                s["bottom_err"] += abs(bottom - entry["band_bottom"])
            else:
                s["free_n"] += 1
                ok = top == 0 and bottom == 0
                s["free_ok"] += ok
            if not ok:
                band_misses.setdefault(name, []).append("%s %d/%d (truth %d/%d)" % (
                    entry["name"], top, bottom, entry["band_top"], entry["band_bottom"]))
    return stats, misses, band_misses


def print_detectors(stats, misses, band_misses):
    print()
    print("| detector | combing right | bands within 1 row | band-free frames clean "
          "| mean bottom error on band frames (rows) |")
    print("|---|---:|---:|---:|---:|")
    for name, s in stats.items():
        comb = "%d/%d (%.1f %%)" % (s["comb_ok"], s["comb_n"], 100.0 * s["comb_ok"] / s["comb_n"]) \
            if s["comb_n"] else "–"
        band = "%d/%d" % (s["band_ok"], s["band_n"]) if s["band_n"] else "–"
        free = "%d/%d" % (s["free_ok"], s["free_n"]) if s["free_n"] else "–"
        err = "%.1f" % (s["bottom_err"] / s["band_n"]) if s["band_n"] else "–"
        print("| %s | %s | %s | %s | %s |" % (name, comb, band, free, err))
    for name, names in misses.items():
        print("%s: combing wrong on %s" % (name, ", ".join(names)), file=sys.stderr)
    for name, names in band_misses.items():
        print("%s: bands wrong on %s" % (name, ", ".join(names)), file=sys.stderr)


# ---- Main ----------------------------------------------------------------------------------

def ensure_set(workdir):
    setdir = os.path.join(workdir, "set")
    manifest = os.path.join(setdir, "manifest.json")
    if os.path.exists(manifest):
        with open(manifest) as f:
            data = json.load(f)
        if data.get("version") == make_set.SET_VERSION:
            return data["frames"]
    for stale in ("set", "out", "scores"):
        shutil.rmtree(os.path.join(workdir, stale), ignore_errors=True)
    make_set.main(setdir)
    with open(manifest) as f:
        return json.load(f)["frames"]


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("tool", nargs="?", help="tessary-eval (or tessary-batch for the pair average only)")
    ap.add_argument("--work", default=os.path.join(os.getcwd(), "build", "quality"),
                    help="folder for the set, outputs and caches (default: ./build/quality)")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--only", help="comma-separated method names to score (e.g. adaptive,top)")
    ap.add_argument("--no-peers", action="store_true", help="score only this program's methods")
    ap.add_argument("--no-detect", action="store_true", help="skip the detector table")
    ap.add_argument("--detect-only", action="store_true", help="only the detector table")
    ap.add_argument("--per-frame", action="store_true",
                    help="also print each frame's PSNR (whole/moving) per method on standard error")
    ap.add_argument("--json", help="write the figures to this file as well")
    ap.add_argument("--holdout", action="store_true",
                    help="score the held-out frames instead of the others (keep this for the end)")
    ap.add_argument("--groups", help="comma-separated groups to score (video, street, synthetic, "
                    "still, band); frames of other groups are left out")
    args = ap.parse_args()

    setdir = os.path.join(args.work, "set")
    frames = [e for e in ensure_set(args.work) if e.get("held_out", False) == args.holdout]
    if args.groups:
        frames = [e for e in frames if group_of(e)[0] in args.groups.split(",")
                  or (e["kind"] == "band" and "band" in args.groups.split(","))]
    scored = [e for e in frames if e["kind"] != "band"]
    tool = Tool(args.tool) if args.tool else None

    methods = ["tessary " + m for m in tool.methods()] if tool else []
    if not args.no_peers:
        methods += REFERENCES + list(FFMPEG_PEERS) + ["ImageMagick field drop"]
    if args.only:
        # A comma and a space belong to a name ("top field, 4-tap cubic").
        wanted = set(re.split(r",(?! )", args.only))
        methods = [m for m in methods if m in wanted or m.split(" ", 1)[-1] in wanted]

    results = {"table": [], "detectors": {}}
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        if not args.detect_only:
            rows = []
            for m in methods:
                cached = not m.startswith("tessary ")
                row = evaluate_method(m, tool, setdir, args.work, scored, cached, pool)
                rows.append((m, row))
                print("scored %s" % m, file=sys.stderr)
            print_table(rows)
            print_groups(rows)
            if args.per_frame and rows:
                print_frames(rows)
            results["table"] = rows
        if not args.no_detect:
            stats, misses, band_misses = detector_rows(tool, setdir, frames, pool)
            print_detectors(stats, misses, band_misses)
            results["detectors"] = stats
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=1)


if __name__ == "__main__":
    main()
