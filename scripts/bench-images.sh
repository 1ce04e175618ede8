#!/bin/sh
# Measures reading 4096 x 4096 images of each kind the programs take, the
# same picture in each (ImageMagick's gradient, swirled, as smooth heights
# are): a 16-bit grey PNG, a 16-bit LZW TIFF, a half-float ZIP OpenEXR, a
# JPEG at quality 92 and a lossy WebP at quality 80:
# - natively (bench/image_timing: loadImage, as the programs read a file,
#   each reading alone in a process): time and peak resident memory;
# - in the web page's module, in headless Chromium (bench/web_timing.js,
#   kind "module": a fresh instance reading the file as the page reads a
#   dropped one): time, and its WebAssembly memory after the reading;
# - the files' sizes.
# The kinds take turns run by run. Prints a Markdown table of medians.
#     sh scripts/bench-images.sh [runs]   (default 5)
# VIEWER_WASM_LIBS in the environment names the module's libraries made
# elsewhere (scripts/build-wasm-libs.sh), else they are made here.
set -eu
cd "$(dirname "$0")/.."
. scripts/lib.sh

runs=${1:-5}
require_packages $BUILD_PACKAGES $BENCH_PACKAGES $WEB_MODULE_PACKAGES chromium imagemagick libmagickcore-6.q16-6-extra
libs=$(wasm_libraries build-bench/wasm-libs)
build_in build-bench "image_timing export_surface make_samples" -DCMAKE_BUILD_TYPE=Release -DVIEWER_TESTS=OFF \
    -DVIEWER_BENCH=ON -DVIEWER_WEB_MODULE=ON -DVIEWER_WASM_LIBS="$libs" >/dev/null
require_puppeteer build-bench

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "making the images" >&2
convert -size 4096x4096 -depth 16 gradient: -swirl 200 -colorspace Gray "$work/source.png"
kinds="png16:heights16.png tiff16:heights16.tif exr-half:heights.exr jpeg:photo.jpg webp:photo.webp"
(cd "$work" && cp source.png heights16.png &&
    convert source.png -depth 16 -compress lzw heights16.tif &&
    convert source.png -depth 16 -compress zip heights.exr &&
    convert source.png -depth 8 -quality 92 photo.jpg &&
    convert source.png -depth 8 -quality 80 photo.webp)
bin=$PWD/build-bench
(cd "$work" && "$bin/dispdome-samples" texture && "$bin/dispdome-export" sample.html) >/dev/null

figures=$work/figures
: >"$figures"
cases=""
for kind in $kinds; do
    echo "${kind%%:*} bytes $(stat -c %s "$work/${kind#*:}")" >>"$figures"
    cases="$cases ${kind%%:*},module,1,$work/sample.html,$work/${kind#*:}"
done
echo "image_timing: $runs runs" >&2
run=0
while [ "$run" -lt "$runs" ]; do
    run=$((run + 1))
    for kind in $kinds; do
        build-bench/image_timing "$work/${kind#*:}" |
            awk -v kind="${kind%%:*}" '{ print kind " nativeMs " $1; print kind " nativeMB " $2 }' >>"$figures"
    done
done
echo "web_timing: $runs runs" >&2
# shellcheck disable=SC2086 # one word a case
node bench/web_timing.js "$runs" 1 build-bench/puppeteer $cases >>"$figures"

awk -v kinds="$kinds" '
    { values[$1 " " $2] = values[$1 " " $2] " " $3 }
    function median(list,    n, v, i, j, t) {
        n = split(substr(list, 2), v, " ")
        for (i = 1; i <= n; ++i) for (j = i + 1; j <= n; ++j) if (v[j] + 0 < v[i] + 0) { t = v[i]; v[i] = v[j]; v[j] = t }
        return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
    }
    END {
        print "| 4096 x 4096 | file | native: time, peak memory | module: time, WebAssembly memory after |"
        print "|---|---|---|---|"
        n = split(kinds, list, " ")
        for (k = 1; k <= n; ++k) {
            kind = list[k]; sub(/:.*/, "", kind)
            printf "| %s | %.2f MB | %.0f ms, %.0f MB | %.0f ms, %.0f MB |\n", kind, median(values[kind " bytes"]) / 1e6,
                median(values[kind " nativeMs"]), median(values[kind " nativeMB"]),
                median(values[kind " moduleRead"]), median(values[kind " moduleMemoryRead"]) / 1048576
        }
    }' "$figures"
