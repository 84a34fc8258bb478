#!/usr/bin/env python3
"""Times whole batch runs of tessary-batch against the codec floor and other tools.

Makes its own test sets, runs every command on the same files, alternating the
commands from round to round, and writes the medians and ratios into
docs/performance.md between the batch-comparison markers.

Usage: bench/compare.py [--rounds N] [--build DIR] [--no-write]
Needs: a build of the bench preset (cmake --preset bench && cmake --build --preset bench),
and Debian's libjpeg-turbo-progs, imagemagick, ffmpeg and time packages.
"""

import argparse
import filecmp
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BEGIN = "<!-- batch-comparison:begin -->"
END = "<!-- batch-comparison:end -->"
ALL_REPAIRS = ["-d", "-c", "8:4", "-s"]


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


def fresh(folder):
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    return folder


def make_sets(build, data):
    maker = build / "bench" / "bench_make_frames"
    sets = {}
    for name, kind, width, height, count in [
        ("jpeg-720x576", "jpeg", 720, 576, 40),
        ("jpeg-1920x1080", "jpeg", 1920, 1080, 40),
        ("gif-720x576", "gif", 720, 576, 20),
        ("bmp-720x576", "bmp", 720, 576, 20),
    ]:
        folder = data / name
        if not folder.exists() or len(list(folder.iterdir())) != count:
            fresh(folder)
            run([str(maker), kind, str(width), str(height), str(count), str(folder)])
        sets[name] = sorted(str(p) for p in folder.iterdir())
    return sets


def shell_loop(template, files, out):
    """One process (or pipeline) per file, as a user's shell loop would run it."""
    script = "\n".join(template.format(src=f, dst=str(out / Path(f).name)) for f in files)
    return ["sh", "-c", "set -e\n" + script]


def commands(build, files, out):
    tool = str(build / "cli" / "tessary-batch")
    floor = str(build / "bench" / "bench_codec_floor")
    cmds = {
        "tessary -j1 all repairs": [tool, "-q", "-j", "1", *ALL_REPAIRS, "-o", str(out), *files],
        "tessary -j1 no repair": [tool, "-q", "-j", "1", "-o", str(out), *files],
        "tessary -j2 all repairs": [tool, "-q", "-j", "2", *ALL_REPAIRS, "-o", str(out), *files],
        "mogrify -quality 100": ["mogrify", "-path", str(out), "-quality", "100", *files],
    }
    if files[0].endswith(".jpg"):
        cmds["codec floor, one process"] = [floor, str(out), *files]
        cmds["djpeg | cjpeg -quality 100, per file"] = shell_loop(
            "djpeg '{src}' | cjpeg -quality 100 > '{dst}'", files, out)
        cmds["ffmpeg pp=lb, per file"] = shell_loop(
            "ffmpeg -nostdin -loglevel error -y -i '{src}' -vf pp=lb -q:v 1 '{dst}'", files, out)
    return cmds


def time_rounds(build, sets, rounds, scratch):
    results = {}
    for name, files in sets.items():
        out = scratch / "out"
        cmds = commands(build, files, out)
        order = list(cmds)
        samples = {label: [] for label in order}
        for r in range(rounds):
            rotated = order[r % len(order):] + order[:r % len(order)]
            for label in rotated:
                fresh(out)
                start = time.perf_counter()
                run(cmds[label], stdout=subprocess.DEVNULL)
                samples[label].append(time.perf_counter() - start)
        results[name] = {label: statistics.median(v) for label, v in samples.items()}
        print(name, {k: round(v, 3) for k, v in results[name].items()}, flush=True)
    return results


def outputs_identical(build, files, scratch):
    a, b = fresh(scratch / "j1"), fresh(scratch / "j2")
    tool = str(build / "cli" / "tessary-batch")
    run([tool, "-q", "-j", "1", *ALL_REPAIRS, "-o", str(a), *files])
    run([tool, "-q", "-j", "2", *ALL_REPAIRS, "-o", str(b), *files])
    names = [Path(f).name for f in files]
    match, mismatch, errors = filecmp.cmpfiles(a, b, names, shallow=False)
    return not mismatch and not errors


def peak_rss_mib(build, files, scratch):
    out = fresh(scratch / "mem")
    tool = str(build / "cli" / "tessary-batch")
    proc = subprocess.run(["/usr/bin/time", "-v", tool, "-q", "-j", "1", *ALL_REPAIRS, "-o",
                           str(out), *files], check=True, capture_output=True, text=True)
    kib = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", proc.stderr).group(1))
    return kib / 1024


def machine():
    model = "unknown"
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    return f"{os.cpu_count()} cores, {model}, {platform.system()} {platform.release()}"


def report(results, identical, memory, rounds):
    lines = [BEGIN, "", "### Whole batch runs", "",
             f"Machine: {machine()}. Medians of {rounds} rounds, commands alternated from round to"
             " round, wall time in seconds, all commands on the same files in one run.", "",
             "Rerun: `cmake --preset bench && cmake --build --preset bench -j2 && bench/compare.py`",
             ""]
    for name, times in results.items():
        lines += [f"#### {name}", "", "| command | median s |", "|---|---|"]
        # A pipe inside a command would end the table cell.
        lines += [f"| {label.replace('|', chr(92) + '|')} | {t:.3f} |" for label, t in times.items()]
        lines.append("")
        allr = times["tessary -j1 all repairs"]
        ratios = [("mogrify / tessary -j1", times["mogrify -quality 100"] / allr, ">= 2"),
                  ("mogrify / tessary -j2", times["mogrify -quality 100"] / times["tessary -j2 all repairs"], ">= 3.5"),
                  ("tessary -j1 / -j2 (throughput gain)", allr / times["tessary -j2 all repairs"], ">= 1.8")]
        if "codec floor, one process" in times:
            ratios.insert(0, ("tessary -j1 all repairs / codec floor", allr / times["codec floor, one process"], "<= 1.25"))
        lines += ["| ratio | value | target |", "|---|---|---|"]
        lines += [f"| {label} | {value:.2f} | {target} |" for label, value, target in ratios]
        lines.append("")
    lines += [f"Outputs of -j 1 and -j 2 byte-identical: {'yes' if identical else 'NO'}.", "",
              "Peak memory (maximum resident set, `/usr/bin/time -v`, 1920 x 1080, -j 1, all repairs):"
              f" {memory[10]:.1f} MiB for 10 files, {memory[40]:.1f} MiB for 40 files.", "", END]
    return "\n".join(lines)


def write_report(text):
    doc = ROOT / "docs" / "performance.md"
    old = doc.read_text() if doc.exists() else "# Performance\n"
    if BEGIN in old and END in old:
        new = old[:old.index(BEGIN)] + text + old[old.index(END) + len(END):]
    else:
        new = old.rstrip("\n") + "\n\n" + text + "\n"
    doc.write_text(new)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--build", default=str(ROOT / "build" / "bench"))
    parser.add_argument("--no-write", action="store_true")
    args = parser.parse_args()
    build = Path(args.build)
    data = build / "bench-data"
    scratch = build / "bench-scratch"
    sets = make_sets(build, data)
    results = time_rounds(build, sets, args.rounds, scratch)
    big = sets["jpeg-1920x1080"]
    identical = all(outputs_identical(build, files, scratch) for files in sets.values())
    memory = {10: peak_rss_mib(build, big[:10], scratch), 40: peak_rss_mib(build, big, scratch)}
    text = report(results, identical, memory, args.rounds)
    print(text)
    if not args.no_write:
        write_report(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
