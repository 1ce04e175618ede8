#!/bin/sh
# Remakes docs/screenshot.png (the first view) and docs/screenshot-tilted.png
# (as after a left drag 40 pixels down, which tilts the dome 40 degrees
# towards the viewer): the viewer's picture with the sample images, drawn by
# dispdome-render with Mesa's software renderer (whatever GPU there is), no
# display needed. Then the
# tilted view under a light from the left (in eye coordinates, level with
# the dome), once lit with the viewer's normals (docs/screenshot-side-viewer.png)
# and once with the displaced surface's own (docs/screenshot-side-displaced.png).
# Last, the web page dispdome-export writes, in headless Chromium
# (docs/screenshot-web.png; web/drivers/screenshot.js says what it shows), and the
# same page after a user's own images were given to it
# (docs/screenshot-web-dropped.png): a JPEG photo (ImageMagick's rose) and
# 16-bit grey PNG heights (a plasma fractal), both made here.
set -eu
cd "$(dirname "$0")/.."
. scripts/lib.sh
require_packages $BUILD_PACKAGES

pin_software_gl
build_in build "render_surface make_samples" -DCMAKE_BUILD_TYPE=Release -DVIEWER_TESTS=OFF >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
./build/dispdome-samples "$work/texture" >/dev/null
mkdir -p docs
out="$PWD/docs/screenshot"
render="$PWD/build/dispdome-render"
side="--tilt 40 --light -10,2,-8"
(cd "$work" && "$render" "$out.png" >/dev/null && "$render" --tilt 40 "$out-tilted.png" >/dev/null &&
    "$render" $side "$out-side-viewer.png" >/dev/null &&
    "$render" $side --normals displaced "$out-side-displaced.png" >/dev/null)
echo "wrote $out.png, $out-tilted.png, $out-side-viewer.png and $out-side-displaced.png"

require_packages chromium imagemagick $WEB_MODULE_PACKAGES
require_puppeteer build
libs=$(wasm_libraries build/wasm-libs)
build_in build export_surface -DCMAKE_BUILD_TYPE=Release -DVIEWER_TESTS=OFF -DVIEWER_WEB_MODULE=ON \
    -DVIEWER_WASM_LIBS="$libs" >/dev/null
export="$PWD/build/dispdome-export"
(cd "$work" && "$export" dome.html >/dev/null)
# The photo cropped square, scaled up and brightened; the heights 512 x 512,
# all the displacement reads, from a fixed seed: the same files each time.
convert rose: -gravity center -crop 46x46+0+0 +repage -filter Lanczos -resize 1024x1024 \
    -modulate 135,110 -quality 90 "$work/photo.jpg"
convert -size 512x512 -seed 3 plasma:fractal -blur 0x6 -colorspace Gray -auto-level -depth 16 \
    -define png:bit-depth=16 -define png:color-type=0 "$work/heights.png"
node web/drivers/screenshot.js "$work/dome.html" "$out-web.png" build/puppeteer \
    "$out-web-dropped.png" "$work/photo.jpg" "$work/heights.png"
echo "wrote $out-web.png and $out-web-dropped.png"
