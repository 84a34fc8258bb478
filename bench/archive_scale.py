#!/usr/bin/env python3
"""tessary-batch at archive scale: memory and planning time of a 100,000-file
run, and the cost of re-running into a folder that already holds the outputs.

Usage: bench/archive_scale.py TESSARY_BATCH [--work DIR] [--files N] [--repeats R]

Prints medians (and the single runs) measured side by side in one go.
"""
import argparse
import os
import shutil
import statistics
import struct
import subprocess
import tempfile
import time


def bmp_bytes(width, height, seed):
    """A 24-bit BMP whose two fields differ, as a still from video would."""
    stride = (width * 3 + 3) // 4 * 4
    rows = bytearray()
    for y in range(height - 1, -1, -1):
        row = bytearray()
        for x in range(width):
            v = (x * 5 + y * 3 + seed + (y % 2) * 60) % 256
            row += bytes((v, (v * 7) % 256, 255 - v))
        rows += row + bytes(stride - len(row))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(rows), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(rows), 3780, 3780, 0, 0)
    return header + info + bytes(rows)


def make_tree(root, files):
    """files inputs in a tree three levels deep, hard links to a few small frames."""
    os.makedirs(root, exist_ok=True)
    sources = []
    for i, extension in enumerate((".bmp", ".jpg", ".gif")):
        path = os.path.join(root, "source" + str(i) + extension)
        with open(path, "wb") as out:
            out.write(bmp_bytes(32, 24, i))  # read by content, whatever the name
        sources.append(path)
    tree = os.path.join(root, "in")
    per_folder = max(1, files // 1000)
    made = 0
    for a in range(10):
        for b in range(10):
            for c in range(10):
                folder = os.path.join(tree, "a%d" % a, "b%d" % b, "c%d" % c)
                os.makedirs(folder)
                for f in range(per_folder):
                    if made == files:
                        return tree
                    source = sources[made % len(sources)]
                    name = "frame%03d%s" % (f, os.path.splitext(source)[1])
                    os.link(source, os.path.join(folder, name))
                    made += 1
    return tree


def timed(command):
    """Wall time, peak resident memory (KiB) and processor time (user + system) of one run."""
    start = time.monotonic()
    result = subprocess.run(["/usr/bin/time", "-f", "%M %U %S"] + command,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    elapsed = time.monotonic() - start
    if result.returncode not in (0,):
        raise SystemExit("failed: %s\n%s" % (" ".join(command), result.stderr[-2000:]))
    peak, user, system = result.stderr.strip().splitlines()[-1].split()
    return elapsed, int(peak), float(user) + float(system)


def archive_run(tool, work, files, repeats):
    tree = make_tree(work, files)
    print("%d inputs in %s" % (files, tree))
    plans, runs, updates = [], [], []
    for _ in range(repeats):
        out = os.path.join(work, "out")
        shutil.rmtree(out, ignore_errors=True)
        plans.append(timed([tool, "-q", "-n", "-r", "-o", out, tree]))
        report = os.path.join(work, "report.jsonl")
        if os.path.exists(report):
            os.remove(report)
        runs.append(timed([tool, "-q", "-r", "-d", "-c", "2:2", "-s", "--report", report,
                           "-o", out, tree]))
        with open(report) as records:
            assert sum(1 for _ in records) == files
        # Every output there: the run is the planning alone (walk, checks, skips).
        updates.append(timed([tool, "-q", "-u", "-r", "-d", "-o", out, tree]))
    print("dry run (planning, printing %d lines): median %.2f s, peak %d KiB  runs: %s" % (
        files, statistics.median(p[0] for p in plans), max(p[1] for p in plans),
        ", ".join("%.2f" % p[0] for p in plans)))
    print("planning (-u over complete outputs): median %.2f s wall, %.2f s processor  runs: %s" % (
        statistics.median(u[0] for u in updates), statistics.median(u[2] for u in updates),
        ", ".join("%.2f" % u[0] for u in updates)))
    print("full run with --report: median %.1f s (%.0f files/s), peak %d KiB (%.1f MiB)  runs: %s" % (
        statistics.median(r[0] for r in runs), files / statistics.median(r[0] for r in runs),
        max(r[1] for r in runs), max(r[1] for r in runs) / 1024.0,
        ", ".join("%.1f" % r[0] for r in runs)))


def rerun_cost(tool, work, frames, repeats):
    """Fresh folder against one holding the outputs, alternating, at -j 1."""
    inputs = os.path.join(work, "frames")
    os.makedirs(inputs)
    for i in range(frames):
        with open(os.path.join(inputs, "f%02d.bmp" % i), "wb") as out:
            out.write(bmp_bytes(720, 576, i))
    # JPEG inputs, as captures come: made by the tool itself.
    jpegs = os.path.join(work, "jpegs")
    subprocess.run([tool, "-q", "-o", jpegs] +
                   [os.path.join(inputs, "f%02d.bmp" % i) for i in range(frames)], check=True)
    for name in os.listdir(jpegs):
        os.rename(os.path.join(jpegs, name), os.path.join(jpegs, name[:-4] + ".jpg"))
    command = [tool, "-q", "-j", "1", "-d", "-c", "8:8", "-s", "-o"]
    fresh, again = [], []
    out = os.path.join(work, "rerun")
    for _ in range(repeats):
        shutil.rmtree(out, ignore_errors=True)
        fresh.append(timed(command + [out, jpegs]))
        again.append(timed(command + [out, jpegs]))
    fresh = [t[0] for t in fresh]
    again = [t[0] for t in again]
    ratio = statistics.median(again) / statistics.median(fresh)
    print("%d frames 720x576, -j 1: fresh median %.3f s, into its outputs median %.3f s, "
          "ratio %.3f" % (frames, statistics.median(fresh), statistics.median(again), ratio))
    print("  fresh: %s" % ", ".join("%.3f" % t for t in fresh))
    print("  again: %s" % ", ".join("%.3f" % t for t in again))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("tool")
    parser.add_argument("--work", default=None, help="scratch folder (default: a new one in /tmp)")
    parser.add_argument("--files", type=int, default=100000)
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--frames", type=int, default=24)
    parser.add_argument("--only", choices=("archive", "rerun"), default=None)
    args = parser.parse_args()
    tool = os.path.abspath(args.tool)
    work = args.work or tempfile.mkdtemp(prefix="tessary-scale-")
    try:
        if args.only in (None, "rerun"):
            rerun_cost(tool, os.path.join(work, "rerun"), args.frames, max(args.repeats, 5))
        if args.only in (None, "archive"):
            archive_run(tool, os.path.join(work, "archive"), args.files, args.repeats)
    finally:
        if args.work is None:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
