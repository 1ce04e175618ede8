#!/bin/sh
# Measures the surface evaluation alone (Google Benchmark, one core, no GL),
# then the viewer's set-up, first frame, steady frame and peak memory against
# the floor in a real 700 x 700 window (under Xvfb when there is no X
# display), and dispdome-render's still and turntable frame beside the
# viewer's, and prints one Markdown table of medians.
#     sh scripts/bench.sh [runs] [frames]      (default 5 runs, 10 frames)
set -eu
cd "$(dirname "$0")/.."
. scripts/lib.sh

runs=${1:-5}
frames=${2:-10}
require_packages $BUILD_PACKAGES $BENCH_PACKAGES
[ -n "${DISPLAY:-}" ] || require_packages $DISPLAY_PACKAGES

build_in build-bench "surface_bench viewer_timing render_surface" -DCMAKE_BUILD_TYPE=Release -DVIEWER_TESTS=OFF \
    -DVIEWER_BENCH=ON >/dev/null

echo "surface_bench: $runs repetitions" >&2
micro=$(./build-bench/surface_bench --benchmark_repetitions="$runs" \
    --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null)

echo "viewer_timing: $runs runs of $frames frames" >&2
if [ -n "${DISPLAY:-}" ]; then
    timing=$(./build-bench/viewer_timing "$runs" "$frames" "$PWD/build-bench/dispdome-render")
else
    timing=$(under_xvfb ./build-bench/viewer_timing "$runs" "$frames" \
        "$PWD/build-bench/dispdome-render")
fi

echo "| figure | this program | compared with | ratio | target |"
echo "|---|---|---|---|---|"
# Median rows of the CSV: name, iterations, real, cpu, unit, bytes/s, items/s.
echo "$micro" | awk -F, '
    { gsub(/"/, "") }
    $1 == "surface/computeStrip_median" { fastRate = $7; fastTime = $4 }
    $1 == "surface/computeStrip16_median" { wideRate = $7; wideTime = $4 }
    $1 == "decode/tga_median" { tga = $4 }
    $1 == "decode/png_median" { png = $4 }
    $1 == "tablesAndNets_median" { tables = $4 }
    $1 == "reduce/8192x8192x16_median" { reduce = $3; image = $11; beyond = $12 }
    END {
        printf "| surface evaluation, 2,099,200 vertices, one core | %.0f M vertices/s (%.1f ms) | | | |\n",
            fastRate / 1e6, fastTime
        printf "| surface evaluation, 16-bit heights | %.0f M vertices/s (%.1f ms) | 8-bit heights %.0f M vertices/s (%.1f ms) | %.2f x | |\n",
            wideRate / 1e6, wideTime, fastRate / 1e6, fastTime, wideTime / fastTime
        printf "| decoding the 512 x 512 sample colour image, in memory | PNG %.2f ms | TGA %.2f ms | %.2f x | <= 3 x |\n",
            png, tga, png / tga
        printf "| tables and nets, no GL | %.1f us | | | |\n", tables
        printf "| an 8192 x 8192 16-bit height map averaged down to the grid | %.0f ms, %.1f MB of heap | the image, %.0f MB | | <= 500 ms, <= 10 MB |\n",
            reduce, beyond, image
    }'
echo "$timing"
echo
echo "Medians of $runs runs; each run's frame time is the median of its $frames frames."
