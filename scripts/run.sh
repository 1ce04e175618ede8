#!/bin/sh
# Builds the viewer and runs it from the repository folder, making the sample
# images first when there is no texture/ folder. Without an X display it runs
# under Xvfb for a few seconds and saves a screenshot.
set -eu
cd "$(dirname "$0")/.."
. scripts/lib.sh

require_packages $BUILD_PACKAGES
[ -n "${DISPLAY:-}" ] || require_packages $DISPLAY_PACKAGES

build_in build "viewer make_samples" -DCMAKE_BUILD_TYPE=Release -DVIEWER_TESTS=OFF >/dev/null

# The viewer reads its images from texture/ here; without that folder it gets
# the sample images (dispdome-samples never overwrites a file).
if [ ! -e texture ]; then
    ./build/dispdome-samples texture >&2
fi

if [ -n "${DISPLAY:-}" ]; then
    exec ./build/dispdome-viewer "$@"
fi

screenshot="$PWD/build/screenshot.png"
under_xvfb sh -c '
    ./build/dispdome-viewer "$@" &
    viewer=$!
    sleep 6
    xwd -root -silent | convert xwd:- -crop 700x700+250+250 +repage "'"$screenshot"'"
    kill $viewer
' sh "$@"
echo "No X display: ran the viewer under Xvfb; screenshot saved to $screenshot" >&2
