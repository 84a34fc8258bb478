#!/usr/bin/env python3
"""PNG batch against ImageMagick: times a PNG -> repairs -> PNG batch
(bench_png_batch, or tessary-batch with --tessary) and ImageMagick's plain
re-encode (mogrify -path OUT, its default PNG settings) of the same 1920 x 1080
frames, taking the commands in turn round after round, and compares the output
sizes without repairs.

Usage: bench/png_compare.py [--rounds N] [--frames N] [--build DIR] [--tessary]
Needs: a build of the bench preset and Debian's imagemagick.
"""

import argparse
import shutil
import statistics
import subprocess
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


def fresh(folder):
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    return folder


def make_frames(build, data, count):
    """Synthetic interlaced frames, written as PNG by ImageMagick (as a grab tool would)."""
    pngs = data / "png-1920x1080"
    if pngs.exists() and len(list(pngs.glob("*.png"))) == count:
        return sorted(str(p) for p in pngs.glob("*.png"))
    bmps = fresh(data / "bmp-1920x1080")
    subprocess.run([str(build / "bench" / "bench_make_frames"), "bmp", "1920", "1080",
                    str(count), str(bmps)], check=True)
    fresh(pngs)
    subprocess.run(["mogrify", "-path", str(pngs), "-format", "png"] +
                   sorted(str(p) for p in bmps.iterdir()), check=True)
    return sorted(str(p) for p in pngs.glob("*.png"))


def timed(command):
    start = time.perf_counter()
    subprocess.run(command, check=True)
    return time.perf_counter() - start


def folder_bytes(folder):
    return sum(p.stat().st_size for p in folder.iterdir() if p.is_file())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--frames", type=int, default=8)
    parser.add_argument("--build", default=str(ROOT / "build" / "bench"))
    parser.add_argument("--tessary", action="store_true",
                        help="time tessary-batch -j 1 instead of bench_png_batch")
    args = parser.parse_args()
    build = Path(args.build)
    data = Path("/tmp") / "tessary-png-compare"
    files = make_frames(build, data, args.frames)
    out = data / "out"

    if args.tessary:
        tool = [str(build / "cli" / "tessary-batch"), "-q", "-j", "1"]
        ours = lambda o: tool + ["-d", "-c", "8:4", "-s", "-o", str(o)] + files
        plain = lambda o: tool + ["-o", str(o)] + files
    else:
        tool = [str(build / "bench" / "bench_png_batch")]
        ours = lambda o: tool + [str(o)] + files
        plain = lambda o: tool + ["-n", str(o)] + files
    commands = {
        "ours, all three repairs": ours,
        "ours, no repairs": plain,
        "mogrify -path OUT": lambda o: ["mogrify", "-path", str(o)] + files,
    }
    times = {name: [] for name in commands}
    sizes = {}
    for _ in range(args.rounds):
        for name, command in commands.items():
            folder = fresh(out / name.replace(" ", "_").replace(",", ""))
            times[name].append(timed(command(folder)))
            sizes[name] = folder_bytes(folder)

    medians = {name: statistics.median(t) for name, t in times.items()}
    magick = "mogrify -path OUT"
    print("%d frames of 1920 x 1080, %d rounds, median wall time:" % (len(files), args.rounds))
    for name, median in medians.items():
        print("  %-26s %7.2f s  %6.1f ms/frame  %9d bytes" %
              (name, median, 1000 * median / len(files), sizes[name]))
    print("speed-up with repairs over mogrify: %.2fx" %
          (medians[magick] / medians["ours, all three repairs"]))
    print("size without repairs over mogrify's: %.3f" %
          (sizes["ours, no repairs"] / sizes[magick]))


if __name__ == "__main__":
    main()
