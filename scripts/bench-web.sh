#!/bin/sh
# Measures the web page dispdome-export writes beside the viewer, in one
# sitting, and, given the dispdome-export of another build (the one before a
# change; its folder must also hold dispdome-samples and dispdome-render, and
# bench/viewer_timing), the page that build writes beside this one's:
# - the page's size for the sample images, for a 4096 x 4096 photo JPEG as
#   the colour image (ImageMagick's noise, blurred: about 5.4 MB), for a
#   16-bit 512 x 512 height image, and for the photo with a 16-bit 4096 x
#   4096 height image; for one drawing as a colour and height pair (an
#   orange disc on navy, its heights a blurred disc in the same place) at
#   512 x 512 and at 2048 x 2048, whose heights the page carries averaged
#   down to the grid; what the sample page carries, part by part
#   (bench/page_parts.js: its data's entries, the module, the shaders);
# - in headless Chromium (its software WebGL2; bench/web_timing.js, which
#   says what each figure is): opening the sample page, the photo's, the
#   photo-and-heights page and the two pair pages to the first text and to
#   the first full frame;
#   the full and the coarse frame as the page times them and as a run of
#   frames takes them, at a device pixel ratio of 1 and 2; in this build's
#   sample page, the same photo and 4096 x 4096 heights picked through its
#   file inputs, to the full frame that shows them, and the module's
#   evaluation of the surface when the relief changes; a fresh instance of
#   this build's module reading 16-bit heights of 8192 x 8192 (about 55 MB
#   of PNG) and of 1025 x 1025, the same rings, and evaluating the surface
#   with them (the larger averaged down to the grid first), with its
#   WebAssembly memory as it goes;
# - the same evaluation in C++ (bench/surface_bench, surface/surfaceGrid:
#   the call the module makes), natively, one core;
# - in a real 700 x 700 window (Xvfb when there is no X display), the
#   viewer's first and steady frame (bench/viewer_timing), each build's own.
# The builds take turns run by run. Prints Markdown tables of medians.
#     sh scripts/bench-web.sh [runs] [frames] [BEFORE_EXPORT]   (default 3 runs, 3 frames)
# VIEWER_WASM_LIBS in the environment names the module's libraries made
# elsewhere (scripts/build-wasm-libs.sh), else they are made here.
set -eu
cd "$(dirname "$0")/.."
. scripts/lib.sh

runs=${1:-3}
frames=${2:-3}
before=${3:+$(cd "$(dirname "$3")" && pwd)}
require_packages $BUILD_PACKAGES $BENCH_PACKAGES $WEB_MODULE_PACKAGES chromium imagemagick
[ -n "${DISPLAY:-}" ] || require_packages $DISPLAY_PACKAGES
libs=$(wasm_libraries build-bench/wasm-libs)
build_in build-bench "viewer_timing render_surface export_surface make_samples surface_bench" \
    -DCMAKE_BUILD_TYPE=Release -DVIEWER_TESTS=OFF -DVIEWER_BENCH=ON -DVIEWER_WEB_MODULE=ON \
    -DVIEWER_WASM_LIBS="$libs" >/dev/null
require_puppeteer build-bench

builds="after"
[ -n "$before" ] && builds="before after"
folder() { if [ "$1" = before ]; then echo "$before"; else echo "$PWD/build-bench"; fi; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "making the images and pages" >&2
convert -seed 1 -size 4096x4096 xc: +noise Random -blur 0x2 -quality 92 "$work/photo.jpg"
convert -size 512x512 -depth 16 gradient: -swirl 200 "$work/heights.png"
convert -size 4096x4096 -depth 16 gradient: -swirl 200 "$work/heights16.png"
# One drawing as a pair, at 2048 x 2048 and at 512 x 512: an orange disc on
# navy, off centre, and its heights, a white blurred disc in the same place.
convert -size 2048x2048 xc:navy -fill '#ff8c00' -draw 'circle 1434,614 1434,1014' -depth 8 "$work/pair2048-color.png"
convert -size 2048x2048 xc:black \( -size 1200x1200 radial-gradient:white-black -sigmoidal-contrast 12,33% \) \
    -geometry +834+14 -composite -colorspace Gray -depth 8 "$work/pair2048-height.png"
for kind in color height; do
    convert "$work/pair2048-$kind.png" -resize 512x512 -depth 8 "$work/pair512-$kind.png"
done
# Rings at 16 bits, as a large terrain's heights: 8192 x 8192 and the
# grid's 1025 x 1025. (Debian's ImageMagick policy leaves its pixel cache
# room for one 8192 x 8192 image: an operator that makes a second, such as
# -swirl, does nothing there and says so only in its debug output.)
convert -size 8192x8192 -depth 16 radial-gradient: -function Sinusoid 6,0,0.5,0.5 "$work/rings8192.png"
convert -size 1025x1025 -depth 16 radial-gradient: -function Sinusoid 6,0,0.5,0.5 "$work/rings1025.png"
figures="$work/figures"
echo "photo bytes $(stat -c %s "$work/photo.jpg")" >"$figures"
echo "heights16 bytes $(stat -c %s "$work/heights16.png")" >>"$figures"
for side in 512 2048; do
    echo "pair$side-files bytes $(($(stat -c %s "$work/pair$side-color.png") + $(stat -c %s "$work/pair$side-height.png")))" >>"$figures"
done
echo "rings8192 bytes $(stat -c %s "$work/rings8192.png")" >>"$figures"
for build in $builds; do
    bin=$(folder "$build")
    mkdir "$work/$build"
    (cd "$work/$build" && "$bin/dispdome-samples" texture && "$bin/dispdome-export" sample.html &&
        "$bin/dispdome-export" --color ../photo.jpg photo.html &&
        "$bin/dispdome-export" --displacement ../heights.png heights.html &&
        "$bin/dispdome-export" --color ../photo.jpg --displacement ../heights16.png both.html &&
        for side in 512 2048; do
            "$bin/dispdome-export" --color "../pair$side-color.png" --displacement "../pair$side-height.png" "pair-${side}px.html"
        done) >/dev/null 2>&1
    for page in sample photo heights both pair-512px pair-2048px; do
        echo "$build-$page bytes $(stat -c %s "$work/$build/$page.html")" >>"$figures"
    done
    node bench/page_parts.js "$build-sample" "$work/$build/sample.html" >>"$figures"
done

cases=""
for what in "sample,frames,1" "photo,open,1" "both,open,1" "pair-512px,open,1" "pair-2048px,open,1" "sample2,frames,2"; do
    for build in $builds; do
        page=${what%%,*}
        cases="$cases $build-$what,$work/$build/${page%2}.html"
    done
done
# Only this build's page takes files and reads them with the module.
cases="$cases after-pick,pick,1,$work/after/sample.html,$work/photo.jpg,$work/heights16.png"
cases="$cases after-evaluate,evaluate,1,$work/after/sample.html"
cases="$cases after-rings8192,module,1,$work/after/sample.html,$work/rings8192.png"
cases="$cases after-rings1025,module,1,$work/after/sample.html,$work/rings1025.png"
echo "web_timing: $runs runs of $frames frames" >&2
# shellcheck disable=SC2086 # one word a case
node bench/web_timing.js "$runs" "$frames" build-bench/puppeteer $cases >>"$figures"

# The module's call natively, here and now: medians of wall and CPU time
# over at least five repetitions.
echo "surface_bench: surface/surfaceGrid" >&2
build-bench/surface_bench --benchmark_filter='^surface/surfaceGrid' \
    --benchmark_repetitions="$((runs > 5 ? runs : 5))" --benchmark_format=csv 2>/dev/null |
    awk -F, '$1 ~ /_median"$/ { name = $1; gsub(/"|_median/, "", name); sub(/surface\//, "", name)
                                 print "native-" name " real " $3; print "native-" name " cpu " $4 }' >>"$figures"

echo "viewer_timing: $runs runs of $frames frames" >&2
display=""
[ -n "${DISPLAY:-}" ] || display=under_xvfb
run=0
while [ "$run" -lt "$runs" ]; do
    run=$((run + 1))
    for build in $builds; do
        bin=$(folder "$build")
        $display "$bin/viewer_timing" 1 "$frames" "$bin/dispdome-render" 2>/dev/null |
            awk -F'|' -v build="$build" '
                index($2, "time to first frame") == 2 { split($3, v, " "); print build "-viewer first " v[1] }
                index($2, "steady frame (glFinish)") == 2 { split($3, v, " "); print build "-viewer steady " v[1] }' \
                >>"$work/viewer"
    done
done
# Medians of the viewer's runs.
sort -k1,2 -k3n "$work/viewer" | awk '
    { key = $1 " " $2; values[key, ++count[key]] = $3 }
    END { for (key in count) { n = count[key]; m = int((n + 1) / 2);
          print key, (n % 2 ? values[key, m] : (values[key, m] + values[key, m + 1]) / 2) } }' >>"$figures"

# The figures as measured, for another look at them.
cp "$figures" build-bench/web-figures.txt
awk -v builds="$builds" -v runs="$runs" -v frames="$frames" '
    { value[$1 " " $2] = $3 }
    function has(key) { return (key in value) }
    function cell(key, unit) {
        if (!has(key)) return "-"
        return unit == "MB" ? sprintf("%.2f MB", value[key] / 1e6) : sprintf("%.0f ms", value[key])
    }
    function row(title, key, unit,   b, a) {
        b = "before-" key; a = "after-" key
        if (two) printf "| %s | %s | %s | %s |\n", title, cell(b, unit), cell(a, unit),
            (has(b) && has(a) && value[b] > 0 ? sprintf("%.2f x", value[a] / value[b]) : "")
        else printf "| %s | %s |\n", title, cell(a, unit)
    }
    function ratio(title, page, viewer) {
        if (two) printf "| %s | %.2f x | %.2f x | |\n", title, value["before-" page] / value["before-" viewer], value["after-" page] / value["after-" viewer]
        else printf "| %s | %.2f x |\n", title, value["after-" page] / value["after-" viewer]
    }
    # The sample page in parts, in bytes of the file, for each build; the
    # entries of the data definitions listed below their part.
    function parts(   key, w, n, k, j, name, t, gone) {
        n = 0
        for (key in value)
            if (split(key, w, " ") == 2 && w[1] ~ /-sample$/ && w[2] ~ /^(part|detail):|^moduleWasm$/ && !(w[2] in seen)) {
                seen[w[2]] = 1; name[++n] = w[2]
            }
        for (k = 2; k <= n; ++k)
            for (j = k; j > 1 && name[j - 1] > name[j]; --j) { t = name[j]; name[j] = name[j - 1]; name[j - 1] = t }
        printf "\n| the sample page, part by part (bytes) | %s\n|---|%s\n", two ? "before | after |" : "this build |", two ? "---|---|" : "---|"
        gone = 0
        for (k = 1; k <= n; ++k) {
            if (two) printf "| %s | %s | %s |\n", name[k], part("before", name[k]), part("after", name[k])
            else printf "| %s | %s |\n", name[k], part("after", name[k])
            if (two && has("before-sample " name[k]) && !has("after-sample " name[k]) && name[k] !~ /^part:data.definitions$/)
                gone += value["before-sample " name[k]]
        }
        if (two) printf "| carried before, not now (the rows with a - after) | %d | |\n", gone
    }
    function part(build, name) { return has(build "-sample " name) ? sprintf("%d", value[build "-sample " name]) : "-" }
    # The photo and the 4096 x 4096 heights picked into the sample page,
    # beside the same files exported into a page and opened.
    function picked(   p, rest) {
        p = "after-pick "
        rest = value[p "pickFrame"] - value[p "pickReadColor"] - value[p "pickReadHeights"] - value[p "pickEvaluate"]
        print "\n| the photo and 16-bit 4096 x 4096 heights (ms) | this build |\n|---|---|"
        printf "| picked into the sample page: the pick to the full frame that shows them | %.0f |\n", value[p "pickFrame"]
        printf "| of which the module reads the JPEG (readMs) | %.0f |\n", value[p "pickReadColor"]
        printf "| of which the module reads the 16-bit PNG (readMs) | %.0f |\n", value[p "pickReadHeights"]
        printf "| of which the module evaluates the surface (evaluateMs) | %.0f |\n", value[p "pickEvaluate"]
        printf "| the rest: the files taken, the texture, the progress words, the frames | %.0f |\n", rest
        printf "| full frames drawn meanwhile, the last included | %s |\n", has(p "pickFrames") ? value[p "pickFrames"] : "-"
        printf "| exported by dispdome-export into a page: opening to the first full frame | %.0f |\n", value["after-both firstFrame"]
    }
    # The module against the same C++ run natively: its memory reused, as
    # the module reuses its own, and fresh each time.
    function evaluation(   m, n) {
        print "\n| the grid evaluated (surfaceGrid), wall (CPU) | the module in the page | native, memory reused | module / native | native, fresh memory |\n|---|---|---|---|---|"
        m = value["after-evaluate evaluate"]; n = "native-surfaceGrid"
        printf "| sample heights (8-bit), the relief changed | %.1f ms | %.1f ms (%.1f ms) | %.2f x | %.1f ms (%.1f ms) |\n", m,
            value[n "/reused real"], value[n "/reused cpu"], m / value[n "/reused real"], value[n " real"], value[n " cpu"]
        m = value["after-pick pickEvaluate"]; n = "native-surfaceGrid16"
        printf "| 16-bit heights (picked 4096 x 4096; native 512 x 512) | %.1f ms | %.1f ms (%.1f ms) | %.2f x | %.1f ms (%.1f ms) |\n", m,
            value[n "/reused real"], value[n "/reused cpu"], m / value[n "/reused real"], value[n " real"], value[n " cpu"]
    }
    # A fresh instance of this build'"'"'s module with the 8192 x 8192 rings
    # and with the 1025 x 1025 ones: the reading, the evaluation (with the
    # reduction for the larger) and the WebAssembly memory.
    function reduction(   a, b) {
        a = "after-rings1025 "; b = "after-rings8192 "
        printf "\n| the module, 16-bit rings as heights (PNG of %.1f MB at 8192 x 8192) | 1025 x 1025 | 8192 x 8192 | difference |\n|---|---|---|---|\n",
            value["rings8192 bytes"] / 1e6
        printf "| reading the PNG (decode) | %.0f ms | %.0f ms | |\n", value[a "moduleRead"], value[b "moduleRead"]
        printf "| evaluating the surface (surfaceVertices), median | %.0f ms | %.0f ms | %.0f ms: the reduction |\n",
            value[a "moduleEvaluate"], value[b "moduleEvaluate"], value[b "moduleEvaluate"] - value[a "moduleEvaluate"]
        printf "| the image read (RGBA and 16-bit red) | %.1f MB | %.1f MB | |\n", value[a "moduleImage"] / 1e6, value[b "moduleImage"] / 1e6
        printf "| WebAssembly memory: started, read, evaluated | %.1f, %.1f, %.1f MB | %.1f, %.1f, %.1f MB | |\n",
            value[a "moduleMemoryStart"] / 1e6, value[a "moduleMemoryRead"] / 1e6, value[a "moduleMemoryEvaluate"] / 1e6,
            value[b "moduleMemoryStart"] / 1e6, value[b "moduleMemoryRead"] / 1e6, value[b "moduleMemoryEvaluate"] / 1e6
        printf "| WebAssembly memory the evaluation added (steps of up to 96 MiB) | %.1f MB | %.1f MB | |\n",
            (value[a "moduleMemoryEvaluate"] - value[a "moduleMemoryRead"]) / 1e6, (value[b "moduleMemoryEvaluate"] - value[b "moduleMemoryRead"]) / 1e6
    }
    END {
        two = builds ~ /before/
        head = two ? "| figure | before | after | after / before |\n|---|---|---|---|" : "| figure | this build |\n|---|---|"
        printf "Photo JPEG: %d bytes (%.2f MB)\n\n%s\n", value["photo bytes"], value["photo bytes"] / 1e6, head
        row("page, sample images", "sample bytes", "MB")
        row("page, 4096 x 4096 photo JPEG as colour", "photo bytes", "MB")
        row("page, 16-bit 512 x 512 heights", "heights bytes", "MB")
        row("page, the photo and 16-bit 4096 x 4096 heights", "both bytes", "MB")
        row(sprintf("page, a 512 x 512 colour and height pair (files %.2f MB)", value["pair512-files bytes"] / 1e6), "pair-512px bytes", "MB")
        row(sprintf("page, the same pair at 2048 x 2048 (files %.2f MB)", value["pair2048-files bytes"] / 1e6), "pair-2048px bytes", "MB")
        goal = 1.4 * value["photo bytes"] + 0.6e6
        printf "\nThis build'"'"'s pages against their goals: the sample page %.2f MB (goal <= 0.90 MB: %s); the photo page %.2f MB (goal <= 1.4 x %.2f + 0.6 = %.2f MB: %s).\n",
            value["after-sample bytes"] / 1e6, value["after-sample bytes"] <= 0.9e6 ? "met" : "missed",
            value["after-photo bytes"] / 1e6, value["photo bytes"] / 1e6, goal / 1e6, value["after-photo bytes"] <= goal ? "met" : "missed"
        parts()
        picked()
        evaluation()
        reduction()
        print "\n" head
        row("sample page: opening to the first paint (text)", "sample firstText")
        row("sample page: opening to the first full frame", "sample firstFrame")
        row("photo page: opening to the first paint (text)", "photo firstText")
        row("photo page: opening to the first full frame", "photo firstFrame")
        row("photo and 4096 x 4096 heights page: opening to the first full frame", "both firstFrame")
        row("512 x 512 pair page: opening to the first full frame", "pair-512px firstFrame")
        row("2048 x 2048 pair page: opening to the first full frame", "pair-2048px firstFrame")
        for (r = 1; r <= 2; ++r) {
            page = r == 1 ? "sample" : "sample2"
            at = two ? sprintf(", ratio %d (buffer %d / %d px)", r, value["before-" page " bufferWidth"],
                value["after-" page " bufferWidth"]) : sprintf(", ratio %d (buffer %d px)", r, value["after-" page " bufferWidth"])
            row("full frame, timed by a read" at, page " full")
            row("full frame, the timer query" at, page " fullTimer")
            row("full frames in a row, wall time each" at, page " fullRun")
            row("coarse frame, timed by a read" at, page " coarse")
            row("coarse frame, the timer query" at, page " coarseTimer")
            row("coarse frames while dragging, wall time each" at, page " coarseRun")
        }
        row("viewer: time to first frame", "viewer first")
        row("viewer: steady frame", "viewer steady")
        ratio("sample page first full frame / viewer first frame", "sample firstFrame", "viewer first")
        ratio("page full frame (read) / viewer steady frame", "sample full", "viewer steady")
        ratio("page full frames in a row / viewer steady frame", "sample fullRun", "viewer steady")
        printf "\nMedians of %d runs; each run'"'"'s frame figures are medians of %d frames. Timer query offered: %s.\n",
            runs, frames, value["after-sample timerQuery"] ? "yes" : "no"
    }' "$figures"
