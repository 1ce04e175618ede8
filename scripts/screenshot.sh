#!/bin/sh
# Remakes docs/screenshot.png: the viewer with the sample images, drawn by
# Mesa's software renderer under Xvfb, its 700 x 700 window cropped out.
set -eu
cd "$(dirname "$0")/.."
. scripts/packages.sh
require_packages $BUILD_PACKAGES $DISPLAY_PACKAGES

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DVIEWER_TESTS=OFF >/dev/null
cmake --build build --target viewer make_samples -j "$(nproc)" >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
./build/make_samples "$work/texture" >/dev/null
out="$PWD/docs/screenshot.png"
viewer="$PWD/build/viewer"
(cd "$work" && xvfb-run -a -s "-screen 0 1024x1024x24" sh -c '
    "$1" >/dev/null &
    pid=$!
    sleep 6
    xwd -root -silent | convert xwd:- -crop 700x700+250+250 +repage "$2"
    kill $pid
' sh "$viewer" "$out")
echo "wrote $out"
