#!/bin/sh
# Measures the web page dispdome-export writes beside the program, in one
# sitting: the page's size against the .glb's; in headless Chromium (its
# software WebGL2) the time from opening the page to its first full frame, a
# full frame and a coarse frame while dragging (bench/web_timing.js); then,
# in a real 700 x 700 window (Xvfb when there is no X display), the viewer's
# first and steady frame and dispdome-render's still (bench/viewer_timing).
# Prints one Markdown table of medians.
#     sh scripts/bench-web.sh [runs] [frames]      (default 3 runs, 5 frames)
set -eu
cd "$(dirname "$0")/.."
. scripts/lib.sh

runs=${1:-3}
frames=${2:-5}
require_packages $BUILD_PACKAGES $BENCH_PACKAGES chromium
[ -n "${DISPLAY:-}" ] || require_packages $DISPLAY_PACKAGES
build_in build-bench "viewer_timing render_surface export_surface make_samples" -DCMAKE_BUILD_TYPE=Release \
    -DVIEWER_TESTS=OFF -DVIEWER_BENCH=ON >/dev/null
require_puppeteer build-bench

bench="$PWD/build-bench"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && "$bench/dispdome-samples" texture >/dev/null && "$bench/dispdome-export" dome.html >/dev/null &&
    "$bench/dispdome-export" dome.glb >/dev/null)
page_bytes=$(stat -c %s "$work/dome.html")
glb_bytes=$(stat -c %s "$work/dome.glb")

echo "web_timing: $runs runs of $frames frames" >&2
web=$(node bench/web_timing.js "$work/dome.html" "$runs" "$frames" build-bench/puppeteer)
echo "viewer_timing: $runs runs of $frames frames" >&2
if [ -n "${DISPLAY:-}" ]; then
    viewer=$(./build-bench/bench/viewer_timing "$runs" "$frames" "$bench/dispdome-render")
else
    viewer=$(under_xvfb ./build-bench/bench/viewer_timing "$runs" "$frames" "$bench/dispdome-render")
fi

# The viewer's figures from its table: "| name | value ms | ...".
figure() { echo "$viewer" | awk -F'|' -v name="$1" 'index($2, name) == 2 { split($3, v, " "); print v[1] }'; }
first=$(figure "time to first frame")
steady=$(figure "steady frame (glFinish)")
still=$(figure "dispdome-render still")
value() { echo "$web" | awk -v name="$1" '$1 == name { print $2 }'; }

echo "| figure | the page | compared with | ratio | target |"
echo "|---|---|---|---|---|"
awk -v page="$page_bytes" -v glb="$glb_bytes" -v open="$(value first)" -v firstFull="$(value firstFull)" \
    -v full="$(value full)" -v coarse="$(value coarse)" -v first="$first" -v steady="$steady" -v still="$still" '
    BEGIN {
        printf "| file size, sample images | %.2f MB (%d bytes) | .glb %.1f MB | %.3f x | <= 2 MB |\n", page / 1e6, page, glb / 1e6, page / glb
        printf "| opening the page to its first full frame | %.0f ms (that frame: %.0f ms) | viewer time to first frame %.0f ms | %.2f x | |\n", open, firstFull, first, open / first
        printf "| opening the page to its first full frame | %.0f ms | dispdome-render still, whole process %.0f ms | %.2f x | |\n", open, still, open / still
        printf "| full frame | %.1f ms | viewer steady frame %.1f ms | %.2f x | |\n", full, steady, full / steady
        printf "| coarse frame while dragging | %.1f ms | the page'"'"'s full frame %.1f ms | %.3f x | <= 0.125 x |\n", coarse, full, coarse / full
    }'
echo
echo "Medians of $runs runs; each run's frame times are the medians of its $frames frames."
