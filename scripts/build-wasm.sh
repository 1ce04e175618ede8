#!/bin/sh
# Builds the desktop's image readers and surface as a WebAssembly module for
# the web page: build-wasm/dispdome-module.js and dispdome-module.wasm, from
# the unchanged src files and the thin binding web/module.cpp.
#
# The libraries they need (zlib, libpng, libjpeg-turbo, libexif) are built
# with emcc from Debian's own source packages, the archive's current ones
# (a stable update may be ahead of what the desktop has installed), into
# build-wasm/libs: about a minute on 2 cores, the sources fetched included,
# and skipped once done. The module is about 460 KB of WebAssembly (175 KB
# gzipped) and 78 KB of JavaScript (21 KB).
#
# Emscripten's ports fetch their sources from the internet, so none is used.
# Run from anywhere as root (packages are installed): scripts/build-wasm.sh
set -eu
cd "$(dirname "$0")/.."
. scripts/lib.sh

require_packages emscripten dpkg-dev cmake make nodejs

OUT=build-wasm
LIBS=$PWD/$OUT/libs
PREFIX=$LIBS/prefix
JOBS=${JOBS:-$(nproc)}
# NodeSource's Node has no acorn of its own; em++ finds Debian's here.
export NODE_PATH=/usr/share/nodejs
CFLAGS_WASM="-O2"

# Debian's source packages need a deb-src line for the archive apt already
# uses; one of ours is added only when there is none.
add_sources() {
    grep -rqs "deb-src" /etc/apt/sources.list /etc/apt/sources.list.d/ && return 0
    cat >/etc/apt/sources.list.d/dispdome-sources.sources <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    apt-get update -qq >&2
}

# The unpacked source folder of Debian's source package NAME, fetched once.
source_of() {
    mkdir -p "$LIBS/src"
    found=$(find "$LIBS/src" -maxdepth 1 -mindepth 1 -type d -name "$2-*" | head -n 1)
    if [ -z "$found" ]; then
        (cd "$LIBS/src" && apt-get source -qq "$1" >&2)
        found=$(find "$LIBS/src" -maxdepth 1 -mindepth 1 -type d -name "$2-*" | head -n 1)
    fi
    echo "$found"
}

wasm_cmake() {
    emcmake cmake "$@" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_C_FLAGS="$CFLAGS_WASM" -DCMAKE_INSTALL_PREFIX="$PREFIX" -DCMAKE_PREFIX_PATH="$PREFIX"
}

# Debian's zlib has no win32/ folder, which its CMake wants: its files are
# compiled directly.
build_zlib() {
    src=$(source_of zlib zlib)
    mkdir -p "$LIBS/zlib" "$PREFIX/include" "$PREFIX/lib"
    for file in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast inflate inftrees \
        trees uncompr zutil; do
        emcc $CFLAGS_WASM -DHAVE_UNISTD_H -DHAVE_STDARG_H -c "$src/$file.c" -o "$LIBS/zlib/$file.o"
    done
    emar rcs "$PREFIX/lib/libz.a" "$LIBS"/zlib/*.o
    cp "$src/zlib.h" "$src/zconf.h" "$PREFIX/include/"
}

build_png() {
    src=$(source_of libpng1.6 libpng1.6)
    wasm_cmake -S "$src" -B "$LIBS/png" -DPNG_SHARED=OFF -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
        -DZLIB_LIBRARY="$PREFIX/lib/libz.a" -DZLIB_INCLUDE_DIR="$PREFIX/include"
    cmake --build "$LIBS/png" -j "$JOBS"
    cmake --install "$LIBS/png"
}

# Emscripten's CMake runs the type size probes as programs under node
# --experimental-wasm-threads, which Node 20 refuses: the sizes are given.
build_jpeg() {
    src=$(source_of libjpeg-turbo libjpeg-turbo)
    wasm_cmake -S "$src" -B "$LIBS/jpeg" -DENABLE_SHARED=OFF -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF \
        -DHAVE_SIZE_T=TRUE -DSIZE_T=4 -DHAVE_UNSIGNED_LONG=TRUE -DUNSIGNED_LONG=4
    cmake --build "$LIBS/jpeg" -j "$JOBS"
    cmake --install "$LIBS/jpeg"
}

# libexif comes without a configure script: its files are compiled directly,
# with the few settings it asks of config.h.
build_exif() {
    src=$(source_of libexif libexif)
    mkdir -p "$LIBS/exif" "$PREFIX/include/libexif"
    printf '#define GETTEXT_PACKAGE "libexif-12"\n#define LOCALEDIR ""\n' >"$LIBS/exif/config.h"
    echo '#include <stdint.h>' >"$PREFIX/include/libexif/_stdint.h"
    for file in "$src"/libexif/*.c "$src"/libexif/*/*.c; do
        name=$(echo "${file#"$src"/libexif/}" | tr / _)
        emcc $CFLAGS_WASM -I"$LIBS/exif" -I"$PREFIX/include" -I"$src" -c "$file" -o "$LIBS/exif/${name%.c}.o"
    done
    emar rcs "$PREFIX/lib/libexif.a" "$LIBS"/exif/*.o
    cp "$src"/libexif/*.h "$PREFIX/include/libexif/"
}

# Each library once: a stamp says it is built.
started=$(date +%s)
for library in zlib png jpeg exif; do
    [ -f "$LIBS/$library.built" ] && continue
    add_sources
    "build_$library"
    touch "$LIBS/$library.built"
done
echo "libraries ready in $(($(date +%s) - started)) s" >&2

# The module: the desktop's readers and surface as they are, and the binding.
em++ -std=c++17 -O2 -Isrc -I"$PREFIX/include" \
    src/image.cpp src/image_read.cpp src/tga.cpp src/png_decoder.cpp src/jpeg_decoder.cpp src/surface.cpp \
    src/texture_pixels.cpp web/module.cpp \
    -L"$PREFIX/lib" -lpng16 -ljpeg -lexif -lz \
    -sMODULARIZE -sEXPORT_NAME=createDispdomeModule -sENVIRONMENT=web,worker,node -sALLOW_MEMORY_GROWTH \
    -sEXPORTED_FUNCTIONS=_malloc,_free -sEXPORTED_RUNTIME_METHODS=UTF8ToString,stringToUTF8,lengthBytesUTF8 \
    -o "$OUT/dispdome-module.js"
ls -l "$OUT/dispdome-module.js" "$OUT/dispdome-module.wasm" >&2
