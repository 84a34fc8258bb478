#!/usr/bin/env python3
"""PNG batch against ImageMagick: times a PNG -> repairs -> PNG batch
(bench_png_batch, or tessary-batch with --tessary) and ImageMagick's plain
re-encode (mogrify -path OUT, its default PNG settings) of the same 1920 x 1080
frames, taking the commands in turn round after round, and compares the output
sizes without repairs.

The frames come in sets: clean synthetic frames, and the same with what
captured frames carry: camera noise, a JPEG history (saved once as JPEG at
quality 90 before they became PNG), or both; and photographs with both
(Debian's mate-backgrounds). --settings prints, per set, the
size against mogrify's and the encode time of each zlib level, strategy and
filter choice (bench_png_settings), the table the writer's settings come from.

Usage: bench/png_compare.py [--rounds N] [--frames N] [--sets a,b] [--build DIR]
                            [--tools DIR] [--tessary] [--settings]
Needs: a build of the bench preset, Debian's imagemagick and mate-backgrounds.
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


# How each set is made from the synthetic frames, by ImageMagick as a grab tool
# would: camera noise of a few levels, and one trip through JPEG at quality 90.
NOISE = ["-attenuate", "0.25", "+noise", "Gaussian"]
SETS = {
    "clean": ([], False),
    "noisy": (NOISE, False),
    "jpeg": ([], True),
    "noisy-jpeg": (NOISE, True),
    "photos": None,
}


# Photographs (Debian's mate-backgrounds) cut to 1920 x 1080 and given what a
# capture carries: camera noise and a JPEG history.
PHOTOS = Path("/usr/share/backgrounds/mate/nature")
FRAME = ["-resize", "1920x1080^", "-gravity", "center", "-extent", "1920x1080"]


def make_photos(pngs, count):
    fresh(pngs)
    for photo in sorted(PHOTOS.glob("*.jpg"))[:count]:
        staged = pngs / (photo.stem + ".jpg")
        subprocess.run(["convert", str(photo)] + FRAME + NOISE + ["-quality", "90", str(staged)],
                       check=True)
        subprocess.run(["convert", str(staged), str(pngs / (photo.stem + ".png"))], check=True)
        staged.unlink()


def make_frames(tools, data, count, name):
    """Frames of one set, written as PNG by ImageMagick."""
    pngs = data / ("png-1920x1080-" + name)
    if pngs.exists() and len(list(pngs.glob("*.png"))) == count:
        return sorted(str(p) for p in pngs.glob("*.png"))
    if name == "photos":
        make_photos(pngs, count)
        return sorted(str(p) for p in pngs.glob("*.png"))
    bmps = data / "bmp-1920x1080"
    if not bmps.exists() or len(list(bmps.glob("*.bmp"))) != count:
        fresh(bmps)
        subprocess.run([str(tools / "bench_make_frames"), "bmp", "1920", "1080",
                        str(count), str(bmps)], check=True)
    fresh(pngs)
    effects, jpeg = SETS[name]
    for bmp in sorted(bmps.glob("*.bmp")):
        target = pngs / (bmp.stem + ".png")
        if jpeg:
            staged = pngs / (bmp.stem + ".jpg")
            subprocess.run(["convert", str(bmp)] + effects + ["-quality", "90", str(staged)],
                           check=True)
            subprocess.run(["convert", str(staged), str(target)], check=True)
            staged.unlink()
        else:
            subprocess.run(["convert", str(bmp)] + effects + [str(target)], check=True)
    return sorted(str(p) for p in pngs.glob("*.png"))


LEVELS = [1, 2, 3, 4, 5, 6, 9]
GRID = [(level, "default", "all") for level in LEVELS] + [
    (3, "rle", "all"), (3, "default", "fast"), (3, "default", "paeth"),
    (4, "filtered", "all"), (4, "filtered", "fast"), (5, "filtered", "all"),
    (6, "filtered", "all"), (6, "filtered", "fast")] + [
    (level, "libdeflate", "fast") for level in [1, 2, 3, 4, 5, 6, 7, 9]]


def settings_table(tools, files, magick_bytes):
    """Size against mogrify's and encode time for every row of GRID."""
    print("  level strategy filters    size    encode ms/frame")
    for level, strategy, filters in GRID:
        result = subprocess.run([str(tools / "bench_png_settings"), str(level), strategy,
                                 filters] + files, check=True, capture_output=True, text=True)
        size, ms = result.stdout.split()
        print("  %5d %-8s %-8s %7.3f %9.0f" %
              (level, strategy, filters, int(size) / magick_bytes, float(ms) / len(files)))


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
    parser.add_argument("--sets", default=",".join(SETS))
    parser.add_argument("--build", default=str(ROOT / "build" / "bench"))
    parser.add_argument("--tools", default=None,
                        help="where bench_make_frames and bench_png_settings are "
                             "(default: BUILD/bench)")
    parser.add_argument("--settings", action="store_true",
                        help="print the settings table of each set instead of timing batches")
    parser.add_argument("--tessary", action="store_true",
                        help="time tessary-batch -j 1 instead of bench_png_batch")
    args = parser.parse_args()
    build = Path(args.build)
    tools = Path(args.tools) if args.tools else build / "bench"
    data = Path("/tmp") / "tessary-png-compare"
    for name in args.sets.split(","):
        files = make_frames(tools, data, args.frames, name)
        print("set %s:" % name)
        compare_set(args, build, tools, data, files)


def compare_set(args, build, tools, data, files):
    out = data / "out"
    if args.settings:
        folder = fresh(out / "mogrify")
        subprocess.run(["mogrify", "-path", str(folder)] + files, check=True)
        settings_table(tools, files, folder_bytes(folder))
        return

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
