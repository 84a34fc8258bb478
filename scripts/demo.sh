#!/usr/bin/env bash
# Repairs the sample frames with tessary-batch and says where they went.
# Usage: scripts/demo.sh [OUTPUT-FOLDER]   (default: ./samples-repaired)
# Installs the Debian packages that are missing, then builds the release preset.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
output=${1:-"$root/samples-repaired"}

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"

tool=build/release/cli/tessary-batch
echo
echo "Repairing the sample frames: deinterlace, clip 6 rows at the top and 4 at the bottom, soften."
"$tool" --deinterlace --clip 6:4 --soften --output "$output" samples/*.jpg samples/*.gif samples/*.bmp

echo
echo "The repaired frames are in $output:"
ls -l "$output"
echo
if [ -x build/release/app/Tessary ]; then
    echo "To start the desktop program: build/release/app/Tessary"
else
    echo "The desktop program is not part of this build; once it is, start it with:"
    echo "    build/release/app/Tessary"
fi
