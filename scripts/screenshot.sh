#!/bin/sh
# Remakes docs/screenshot.png (the first view) and docs/screenshot-tilted.png
# (after a left drag 40 pixels down, which tilts the dome 40 degrees towards
# the viewer): the viewer with the sample images, drawn by Mesa's software
# renderer under Xvfb, its 700 x 700 window cropped out.
set -eu
cd "$(dirname "$0")/.."
. scripts/packages.sh
require_packages $BUILD_PACKAGES $DISPLAY_PACKAGES xdotool

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DVIEWER_TESTS=OFF >/dev/null
cmake --build build --target viewer make_samples -j "$(nproc)" >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
./build/make_samples "$work/texture" >/dev/null
mkdir -p docs
out="$PWD/docs/screenshot"
viewer="$PWD/build/viewer"
(cd "$work" && xvfb-run -a -s "-screen 0 1024x1024x24" sh -c '
    "$1" >/dev/null &
    pid=$!
    sleep 6
    xwd -root -silent | convert xwd:- -crop 700x700+250+250 +repage "$2.png"
    xdotool mousemove 600 500 mousedown 1 mousemove 600 520 mousemove 600 540 mouseup 1
    sleep 2
    xwd -root -silent | convert xwd:- -crop 700x700+250+250 +repage "$2-tilted.png"
    kill $pid
' sh "$viewer" "$out")
echo "wrote $out.png and $out-tilted.png"
