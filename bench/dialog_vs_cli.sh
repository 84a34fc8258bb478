#!/bin/sh
# The dialog's Process against tessary-batch -j 2 on 24 full-HD JPEG frames, deinterlaced,
# run alternately ROUNDS times (default 5); prints each time, the medians and their ratio.
# Builds a release tree with the desktop program and the benchmarks in build/bench-gui.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/bench-gui"
rounds=${ROUNDS:-5}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTESSARY_BUILD_BENCH=ON \
    -DTESSARY_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target tessary-batch bench_dialog_run bench_make_frames >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/in"
"$build/bench/bench_make_frames" jpeg 1920 1080 24 "$work/in" >/dev/null
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
: >"$work/cli" && : >"$work/dialog"
i=0
while [ "$i" -lt "$rounds" ]; do
    rm -rf "$work/out" && mkdir "$work/out"
    start=$(date +%s.%N)
    "$build/cli/tessary-batch" -q -j 2 -d -o "$work/out" "$work"/in/*.jpg
    end=$(date +%s.%N)
    echo "$end - $start" | bc >>"$work/cli"
    rm -rf "$work/out" && mkdir "$work/out"
    QT_QPA_PLATFORM=offscreen "$build/bench/bench_dialog_run" "$work/out" "$work"/in/*.jpg \
        2>/dev/null >>"$work/dialog"
    i=$((i + 1))
done
cli=$(median <"$work/cli")
dialog=$(median <"$work/dialog")
echo "tessary-batch -j 2 (s): $(tr '\n' ' ' <"$work/cli")"
echo "dialog Process (s):     $(tr '\n' ' ' <"$work/dialog")"
echo "median: tessary-batch $cli s, dialog $dialog s, ratio $(echo "scale=3; $dialog / $cli" | bc)"
