#!/bin/sh
# Grabs the main dialog (at its default size and enlarged), the progress window, the About
# box and the preview window into docs/screenshots/, on a virtual X display at the default
# font. Needs a configured build: release unless BUILD names another folder under build/.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build="$root/build/${BUILD:-release}"
cmake --build "$build" -j2 --target tessary_screenshots
mkdir -p "$here/screenshots"
xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" \
    "$build/tests/gui/tessary_screenshots" "$here/screenshots"
