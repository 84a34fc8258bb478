#!/bin/sh
# Grabs the main dialog, the progress window, the About box and the preview window into
# docs/screenshots/, on a virtual X display at the default font. Needs a configured
# release build.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
cmake --build "$root/build/release" -j2 --target tessary_screenshots
mkdir -p "$here/screenshots"
xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" \
    "$root/build/release/tests/gui/tessary_screenshots" "$here/screenshots"
