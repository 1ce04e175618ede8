#!/bin/sh
# Measures the page's saves, in one sitting, beside dispdome-export writing
# the same files on the desktop:
# - in headless Chromium (bench/web_timing.js, kind "save"), the sample page
#   and a page exported with a 4096 x 4096 photo JPEG as its colour image
#   (ImageMagick's noise, blurred, as in scripts/bench-web.sh), each saving
#   the mesh as .glb, .ply (with its .png) and .obj (with its .mtl and .png)
#   and itself as .html: from the click to the last downloaded file complete,
#   and to the page's worker done;
# - this build's dispdome-export writing the same files from the same images
#   (--color C --displacement H --relief 1 --normals viewer dome.EXT: what the
#   page starts with), whole runs (kind "run"), each case after the page's;
# - the module's files and the sample page, in bytes, and, given the
#   dispdome-export of another build (the one before a change; its folder
#   must hold dispdome-samples and web/dispdome-module.*), that build's.
# The cases take turns run by run. Prints Markdown tables of medians.
# The .obj saves, the slowest by far (233 MB), take OBJ_RUNS runs only.
#     sh scripts/bench-save.sh [runs] [OBJ_RUNS] [BEFORE_EXPORT]   (default 3 runs, OBJ_RUNS as runs)
# VIEWER_WASM_LIBS in the environment names the module's libraries made
# elsewhere (scripts/build-wasm-libs.sh), else they are made here.
set -eu
cd "$(dirname "$0")/.."
. scripts/lib.sh

runs=${1:-3}
obj_runs=${2:-$runs}
before=${3:+$(cd "$(dirname "$3")" && pwd)}
require_packages $BUILD_PACKAGES $WEB_MODULE_PACKAGES chromium imagemagick
libs=$(wasm_libraries build-bench/wasm-libs)
build_in build-bench "export_surface make_samples" \
    -DCMAKE_BUILD_TYPE=Release -DVIEWER_TESTS=OFF -DVIEWER_BENCH=ON -DVIEWER_WEB_MODULE=ON \
    -DVIEWER_WASM_LIBS="$libs" >/dev/null
require_puppeteer build-bench
bin=$PWD/build-bench

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "making the images and pages" >&2
convert -seed 1 -size 4096x4096 xc: +noise Random -blur 0x2 -quality 92 "$work/photo.jpg"
(cd "$work" && "$bin/dispdome-samples" texture && "$bin/dispdome-export" sample.html &&
    "$bin/dispdome-export" --color photo.jpg photo.html) >/dev/null 2>&1
figures="$work/figures"
{
    echo "photo bytes $(stat -c %s "$work/photo.jpg")"
    echo "after-sample bytes $(stat -c %s "$work/sample.html")"
    echo "after-wasm bytes $(stat -c %s "$bin/web/dispdome-module.wasm")"
    echo "after-js bytes $(stat -c %s "$bin/web/dispdome-module.js")"
} >"$figures"
if [ -n "$before" ]; then
    mkdir "$work/before"
    (cd "$work/before" && "$before/dispdome-samples" texture && "$before/dispdome-export" sample.html) >/dev/null 2>&1
    {
        echo "before-sample bytes $(stat -c %s "$work/before/sample.html")"
        echo "before-wasm bytes $(stat -c %s "$before/web/dispdome-module.wasm")"
        echo "before-js bytes $(stat -c %s "$before/web/dispdome-module.js")"
    } >>"$figures"
fi

# The page's save of each format, then the desktop's of the same; the
# sample page's images are the sample's, the photo page's the photo and
# the sample heights.
cases=""
for page in sample photo; do
    color=$work/texture/color.tga
    [ "$page" = photo ] && color=$work/photo.jpg
    for format in glb ply obj html; do
        most=""
        [ "$format" = obj ] && most=@$obj_runs
        cases="$cases page-$page-$format$most,save,1,$work/$page.html,$format"
        cases="$cases desktop-$page-$format$most,run,0,$bin/dispdome-export,--color,$color"
        cases="$cases,--displacement,$work/texture/displace.tga,--relief,1,--normals,viewer,dome.$format"
    done
done
echo "web_timing: $runs runs, $obj_runs of .obj" >&2
# shellcheck disable=SC2086 # one word a case
node bench/web_timing.js "$runs" 1 build-bench/puppeteer $cases >>"$figures"

cp "$figures" build-bench/save-figures.txt
awk -v runs="$runs" -v obj_runs="$obj_runs" '
    { value[$1 " " $2] = $3 }
    function has(key) { return (key in value) }
    # A whole number with commas between its thousands.
    function commas(n,   s) { s = sprintf("%.0f", n); while (s ~ /[0-9][0-9][0-9][0-9]/) sub(/[0-9][0-9][0-9](,|$)/, ",&", s); return s }
    function bytes(key) { return has(key) ? commas(value[key]) : "-" }
    function ms(key) { return has(key) ? commas(value[key]) : "-" }
    BEGIN { names["glb"] = ".glb"; names["ply"] = ".ply and .png"; names["obj"] = ".obj, .mtl and .png"; names["html"] = "the page (.html)" }
    END {
        two = has("before-sample bytes")
        print "| bytes | " (two ? "before | after |" : "this build |") "\n|---|" (two ? "---|---|" : "---|")
        split("wasm js sample", what, " ")
        split("the module (dispdome-module.wasm),its loader (dispdome-module.js),the sample page", title, ",")
        for (k = 1; k <= 3; ++k)
            if (two) printf "| %s | %s | %s |\n", title[k], bytes("before-" what[k] " bytes"), bytes("after-" what[k] " bytes")
            else printf "| %s | %s |\n", title[k], bytes("after-" what[k] " bytes")
        printf "\nPhoto JPEG: %s bytes.\n", commas(value["photo bytes"])
        split("glb ply obj html", formats, " ")
        for (p = 1; p <= 2; ++p) {
            page = p == 1 ? "sample" : "photo"
            printf "\n| the %s page saves (ms) | the page: the click to the files complete | of which the click to the worker done (status.saved) | dispdome-export, whole run | page / desktop | bytes |\n|---|---|---|---|---|---|\n", page
            for (f = 1; f <= 4; ++f) {
                key = page "-" formats[f]
                ratio = has("page-" key " save") && value["desktop-" key " run"] > 0 ? sprintf("%.1f x", value["page-" key " save"] / value["desktop-" key " run"]) : ""
                if (value["page-" key " saveFailed"] > 0) ratio = ratio sprintf(" (the page failed %d runs)", value["page-" key " saveFailed"])
                printf "| %s | %s | %s | %s | %s | %s |\n", names[formats[f]], ms("page-" key " save"), ms("page-" key " saveWritten"),
                    ms("desktop-" key " run"), ratio, bytes("page-" key " saveBytes")
            }
        }
        printf "\nMedians of %d runs (.obj: %d).\n", runs, obj_runs
    }' "$figures"
