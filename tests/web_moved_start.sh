#!/bin/sh
# The web page takes the camera's start from the C++ alone: the sources
# copied with the start distance (START_OFFSET's z in src/view.h) moved
# there and nowhere else, the programs built from the copy, and the page's
# test run against them.
#     sh web_moved_start.sh SOURCE_DIR SCRATCH_DIR PUPPETEER_FOLDER
set -eu
source=$(realpath "$1") scratch=$(realpath -m "$2") puppeteer=$(realpath "$3")
start='constexpr Vector3 START_OFFSET = {0.0f, 0.0f, 10.0f};'
moved='constexpr Vector3 START_OFFSET = {0.0f, 0.0f, 11.0f};'

rm -rf "$scratch"
mkdir -p "$scratch/source"
cp -R "$source/CMakeLists.txt" "$source/src" "$source/tools" "$source/web" "$source/packaging" "$scratch/source/"
header=$scratch/source/src/view.h
grep -qxF "$start" "$header" || { echo "$header: no line '$start' to move" >&2; exit 1; }
sed -i "s/^$start\$/$moved/" "$header"
grep -qxF "$moved" "$header"

# Only the build's failures are shown.
if ! { cmake -S "$scratch/source" -B "$scratch/build" -DCMAKE_BUILD_TYPE=Release -DVIEWER_TESTS=OFF &&
    cmake --build "$scratch/build" --target export_surface render_surface make_samples -j "${JOBS:-$(nproc)}"; } \
    >"$scratch/build.log" 2>&1; then
    cat "$scratch/build.log" >&2
    exit 1
fi
cd "$scratch/build"
node "$source/tests/web_test.js" dispdome-export dispdome-render dispdome-samples "$puppeteer"
rm -rf "$scratch"
