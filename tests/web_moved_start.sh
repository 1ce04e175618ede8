#!/bin/sh
# The web page and dispdome-render take the camera's start and the light
# from the C++ alone: the sources copied with START_OFFSET and START_LIGHT
# moved in src/dome/view.h and nowhere else, dispdome-export and dispdome-render
# built from the copy, and the page's first picture and a dragged one
# compared with the copy's dispdome-render.
# The copy takes the web page's module from MODULE_FOLDER, where the same
# sources' module is built (the camera is not in it).
#     sh web_moved_start.sh SOURCE_DIR SCRATCH_DIR PUPPETEER_FOLDER SAMPLES_BINARY MODULE_FOLDER
set -eu
source=$(realpath "$1") scratch=$(realpath -m "$2") puppeteer=$(realpath "$3") samples=$(realpath "$4")
module=$(realpath "$5")

rm -rf "$scratch"
mkdir -p "$scratch/source"
cp -R "$source/CMakeLists.txt" "$source/cmake" "$source/src" "$source/tools" "$source/web" "$source/packaging" "$scratch/source/"
header=$scratch/source/src/dome/view.h
move() {
    grep -qxF "$1" "$header" || { echo "$header: no line '$1' to move" >&2; exit 1; }
    sed -i "s/^$1\$/$2/" "$header"
    grep -qxF "$2" "$header"
}
move 'constexpr Vector3 START_OFFSET = {0.0f, 0.0f, 10.0f};' 'constexpr Vector3 START_OFFSET = {0.4f, -0.3f, 12.0f};'
move 'constexpr Vector3 START_LIGHT = {0.0f, 0.0f, 10.0f};' 'constexpr Vector3 START_LIGHT = {-6.0f, 4.0f, 9.0f};'

# Only the build's failures are shown. No optimisation: the two programs
# build in a third of the time, and draw the same pictures.
if ! { cmake -S "$scratch/source" -B "$scratch/build" -DCMAKE_BUILD_TYPE= -DVIEWER_TESTS=OFF \
    -DVIEWER_WEB_MODULE="$module" &&
    cmake --build "$scratch/build" --target export_surface render_surface -j "${JOBS:-$(nproc)}"; } \
    >"$scratch/build.log" 2>&1; then
    cat "$scratch/build.log" >&2
    exit 1
fi
cd "$scratch/build"
node "$source/tests/web_test.js" dispdome-export dispdome-render "$samples" "$puppeteer" moved
rm -rf "$scratch"
