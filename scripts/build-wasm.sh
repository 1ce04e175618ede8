#!/bin/sh
# Builds the desktop's image readers and surface as a WebAssembly module for
# the web page: build-wasm/dispdome-module.js and dispdome-module.wasm, from
# the unchanged src files and the thin binding web/module.cpp.
#
# The libraries they need (zlib, libpng, libjpeg-turbo, libexif) are built
# by scripts/build-wasm-libs.sh into build-wasm/libs, once: from empty the
# whole takes about 27 s on 2 shared cores, 7 s of it the module's link.
# The module is about 450 KB of WebAssembly (172 KB gzipped) and 78 KB of
# JavaScript (21 KB).
#
# Emscripten's ports fetch their sources from the internet, so none is used.
# Run from anywhere as root (packages are installed): scripts/build-wasm.sh
set -eu
cd "$(dirname "$0")/.."
. scripts/lib.sh

require_packages emscripten nodejs

OUT=build-wasm
PREFIX=$PWD/$OUT/libs/prefix
# NodeSource's Node has no acorn of its own; em++ finds Debian's here.
export NODE_PATH=/usr/share/nodejs

sh scripts/build-wasm-libs.sh "$OUT/libs"

# The module: the desktop's readers and surface as they are, and the binding.
em++ -std=c++17 -O2 -Isrc -I"$PREFIX/include" \
    src/image.cpp src/image_read.cpp src/tga.cpp src/png_decoder.cpp src/jpeg_decoder.cpp src/surface.cpp \
    src/texture_pixels.cpp web/module.cpp \
    -L"$PREFIX/lib" -lpng16 -ljpeg -lexif -lz \
    -sMODULARIZE -sEXPORT_NAME=createDispdomeModule -sENVIRONMENT=web,worker,node -sALLOW_MEMORY_GROWTH \
    -sEXPORTED_FUNCTIONS=_malloc,_free -sEXPORTED_RUNTIME_METHODS=UTF8ToString,stringToUTF8,lengthBytesUTF8 \
    -o "$OUT/dispdome-module.js"
ls -l "$OUT/dispdome-module.js" "$OUT/dispdome-module.wasm" >&2
