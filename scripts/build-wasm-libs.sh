#!/bin/sh
# Builds the libraries the WebAssembly module links (zlib, libpng,
# libjpeg-turbo, libexif, libtiff, OpenEXR's C core library and libwebp's
# decoder) with emcc from Debian's own source packages, at the versions the
# desktop links, into OUT/prefix/include and OUT/prefix/lib:
#     scripts/build-wasm-libs.sh [--fuzz] OUT [SOURCES]
# With --fuzz, the same libraries are built natively with clang instead,
# with the coverage libFuzzer follows and AddressSanitizer's and
# UndefinedBehaviorSanitizer's checks, for the fuzz targets
# (scripts/fuzz.sh, which names the module's step's OUT/sources as
# SOURCES when there are some: the network is asked once).
# This is the one step that fetches anything. It is run by hand or by the
# scripts (test.sh, build-package.sh), never by the build, which only finds
# what it made. It needs no root. The source packages (each a .dsc with the
# files it lists) are fetched into OUT/sources by apt with a sources list
# and state of its own, under OUT/apt; or, with no network, taken from the
# folder SOURCES, where they were brought from elsewhere. Either way
# dpkg-source unpacks them into OUT/src, checking each file against its
# .dsc. OUT/versions.txt says which were built.
# Each library is built once: OUT/LIBRARY.built names its version; with all
# seven there the script returns at once, touching nothing. Standard output
# stays empty; progress goes to standard error, a failing step's whole log
# with it.
#
# Their C files are compiled directly, a few to a compiler, on every core:
# no configure step, whose probes would take longer than the compiling. From
# empty on 2 shared cores: about 25 s, of which fetching the sources 5 s,
# then 2 to 4 s a library (about 35 s of CPU in all); with --fuzz, the
# sources brought, about 90 s (libjpeg-turbo 23 s, libtiff and OpenEXR's
# core 14 s each); once built, a few milliseconds.
set -eu
FUZZ=""
[ "${1:-}" = --fuzz ] && FUZZ=yes && shift
case $# in
    1 | 2) ;;
    *) echo "usage: $0 [--fuzz] OUT [SOURCES]" >&2 && exit 2 ;;
esac
mkdir -p "$1"
OUT=$(cd "$1" && pwd)
SOURCES=""
if [ $# -eq 2 ]; then
    [ -d "$2" ] || { echo "$0: $2: no such folder of source packages" >&2; exit 1; }
    SOURCES=$(cd "$2" && pwd)
fi
PREFIX=$OUT/prefix
LIBRARIES="zlib png jpeg exif tiff exr webp"

pending=""
for library in $LIBRARIES; do
    [ -s "$OUT/$library.built" ] || pending="$pending $library"
done
[ -z "$pending" ] && exit 0

# What it runs comes from Debian's emscripten (or clang) and dpkg-dev;
# installing them is the caller's part. Their warnings are not ours to fix:
# the log stays short.
if [ -n "$FUZZ" ]; then
    # As the fuzz target is built (fuzz/CMakeLists.txt), but the coverage
    # alone, without libFuzzer's main; -O1 with line tables, as
    # AddressSanitizer advises.
    CC=clang AR=ar packages="clang libclang-rt-14-dev dpkg-dev"
    CFLAGS_LIBS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -gline-tables-only -O1 -w"
else
    CC=emcc AR=emar packages="emscripten dpkg-dev"
    # The sources' own file names (in their assertions) are kept without
    # this folder, so that the module is the same wherever it is built.
    CFLAGS_LIBS="-O2 -w -ffile-prefix-map=$OUT/src/="
fi
for tool in $CC $AR dpkg-source dpkg-query; do
    command -v "$tool" >/dev/null || {
        echo "$0: no $tool here: apt-get install $packages (as root), then run this again" >&2
        exit 1
    }
done
JOBS=${JOBS:-$(nproc)}
# NodeSource's Node has no acorn of its own; emcc finds Debian's here.
export NODE_PATH=/usr/share/nodejs
# The target's size_t, in bytes, for the settings that depend on it: 4 in
# wasm32, 8 natively on 64 bits.
SIZE_T=$($CC -dM -E - </dev/null | sed -n 's/^#define __SIZEOF_SIZE_T__ //p')

# apt as any user: the system's configuration (its proxy, say), with a
# sources list, lists and cache of its own under OUT/apt. The list names
# the Debian archive's sources for this system's release (DEBIAN_MIRROR in
# the environment names another mirror):
#     apt_own apt-get|apt-cache ARGUMENT...
apt_own() {
    program=$1
    shift
    "$program" -q -o Dir::State="$OUT/apt/state" -o Dir::Cache="$OUT/apt/cache" \
        -o Dir::Etc::SourceList="$OUT/apt/debian.sources" -o Dir::Etc::SourceParts="$OUT/apt/parts" \
        -o APT::Sandbox::User="$(id -un)" "$@"
}
add_sources() {
    mkdir -p "$OUT/apt/state/lists/partial" "$OUT/apt/cache/archives/partial" "$OUT/apt/parts"
    # shellcheck disable=SC1091 # the system's own
    release=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
    cat >"$OUT/apt/debian.sources" <<EOF
Types: deb-src
URIs: ${DEBIAN_MIRROR:-http://deb.debian.org/debian}
Suites: $release $release-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    apt_own apt-get update
}

# The versions of SOURCE there are to build: the .dsc files in SOURCES, else
# what the archive offers.
offered_versions() {
    if [ -n "$SOURCES" ]; then
        for dsc in "$SOURCES/$1"_*.dsc; do
            [ -f "$dsc" ] && sed -n 's/^Version: //p' "$dsc"
        done
    else
        apt_own apt-cache showsrc --only-source "$1" 2>/dev/null | sed -n 's/^Version: //p'
    fi
}

# LIBRARY's Debian packages: the desktop's (binary) and its source.
packages_of() {
    case $1 in
        zlib) binary=zlib1g-dev source=zlib ;;
        png) binary=libpng-dev source=libpng1.6 ;;
        jpeg) binary=libjpeg62-turbo-dev source=libjpeg-turbo ;;
        exif) binary=libexif-dev source=libexif ;;
        tiff) binary=libtiff-dev source=tiff ;;
        exr) binary=libopenexr-dev source=openexr ;;
        webp) binary=libwebp-dev source=libwebp ;;
    esac
}

# The source version of the desktop's installed package of LIBRARY, if any.
desktop_version() {
    packages_of "$1"
    dpkg-query -W -f='${db:Status-Status} ${source:Version}' "$binary" 2>/dev/null | sed -n 's/^installed //p'
}

# The source version to build LIBRARY from: the desktop's, or, when the
# sources offered have not (a stable update came since, or other sources
# were brought), the newest offered, said on standard error.
version_of() {
    wanted=$(desktop_version "$1")
    packages_of "$1"
    newest=""
    for offered in $(offered_versions "$source"); do
        [ "$offered" = "$wanted" ] && { echo "$wanted"; return; }
        if [ -z "$newest" ] || dpkg --compare-versions "$offered" gt "$newest"; then newest=$offered; fi
    done
    where=${SOURCES:-the archive}
    [ -n "$newest" ] || { echo "$0: $source: no source package in $where" >&2; return 1; }
    echo "$1: building $source $newest, not the desktop's ${wanted:-(not installed)}, which $where has not" >&2
    echo "$newest"
}

# The unpacked folder of LIBRARY's source package at VERSION, under OUT/src.
folder_of() {
    packages_of "$1"
    upstream=${2#*:}
    echo "$OUT/src/$source-${upstream%-*}"
}

# Unpacks the source packages of the LIBRARY=VERSION given into OUT/src,
# each anew: from SOURCES, or from OUT/sources once apt has fetched them
# there in one go. dpkg-source refuses a file whose size or checksums are
# not those its .dsc gives.
fetch() {
    from=$SOURCES
    if [ -z "$from" ]; then
        from=$OUT/sources
        mkdir -p "$from"
        wanted=""
        for pair in "$@"; do
            packages_of "${pair%%=*}"
            wanted="$wanted $source=${pair#*=}"
        done
        # shellcheck disable=SC2086 # one word a package
        (cd "$from" && apt_own apt-get source --download-only $wanted)
    fi
    mkdir -p "$OUT/src"
    for pair in "$@"; do
        packages_of "${pair%%=*}"
        upstream=${pair#*=}
        folder=$(folder_of "${pair%%=*}" "$upstream")
        rm -rf "$folder"
        dpkg-source -x "$from/${source}_${upstream#*:}.dsc" "$folder"
    done
}

# Compiles the C files named on standard input with the flags given into
# OUT/obj/LIBRARY, then archives them as PREFIX/lib/ARCHIVE:
#     compile LIBRARY ARCHIVE [FLAG...] <FILES
# As many compilers run at once as there are cores, each given an equal
# share of the files but no more than 8: emcc's own start takes a quarter of
# a second, as long as compiling a small file.
compile() {
    objects=$OUT/obj/$1 archive=$PREFIX/lib/$2
    shift 2
    rm -rf "$objects" "$archive"
    mkdir -p "$objects" "$PREFIX/lib"
    cat >"$objects/files"
    share=$((($(wc -l <"$objects/files") + JOBS - 1) / JOBS))
    [ "$share" -le 8 ] || share=8
    # shellcheck disable=SC2016,SC2086 # the inner shell expands; flags are words
    xargs -P "$JOBS" -n "$share" sh -c 'cd "$0" && exec "$@"' "$objects" $CC $CFLAGS_LIBS "$@" -c \
        <"$objects/files"
    $AR rcs "$archive" "$objects"/*.o
}

# Debian's zlib has no win32/ folder, which its CMake wants: its files are
# compiled directly in any case.
build_zlib() {
    for file in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast inflate inftrees \
        trees uncompr zutil; do
        echo "$1/$file.c"
    done | compile zlib libz.a -DHAVE_UNISTD_H -DHAVE_STDARG_H
    cp "$1/zlib.h" "$1/zconf.h" "$PREFIX/include/"
}

# libpng's default settings are its prebuilt pnglibconf.h; no SIMD code.
build_png() {
    cp "$1/scripts/pnglibconf.h.prebuilt" "$PREFIX/include/pnglibconf.h"
    cp "$1/png.h" "$1/pngconf.h" "$PREFIX/include/"
    for file in png pngerror pngget pngmem pngpread pngread pngrio pngrtran pngrutil pngset pngtrans pngwio \
        pngwrite pngwtran pngwutil; do
        echo "$1/$file.c"
    done | compile png libpng16.a -I"$PREFIX/include" -DPNG_ARM_NEON_OPT=0 -DPNG_MIPS_MSA_OPT=0 \
        -DPNG_POWERPC_VSX_OPT=0 -DPNG_INTEL_SSE_OPT=0
}

# What libjpeg-turbo's CMake writes from jconfig.h.in for the libjpeg 6b
# interface Debian builds: 8-bit samples, arithmetic coding both ways, the
# memory source and destination, no SIMD. UPSTREAM is its version.
jconfig_h() {
    number=$(echo "$1" | awk -F. '{ printf "%d%03d%03d", $1, $2, $3 }')
    cat <<EOF
#define JPEG_LIB_VERSION  62
#define LIBJPEG_TURBO_VERSION  $1
#define LIBJPEG_TURBO_VERSION_NUMBER  $number
#define C_ARITH_CODING_SUPPORTED 1
#define D_ARITH_CODING_SUPPORTED 1
#define MEM_SRCDST_SUPPORTED 1
#define BITS_IN_JSAMPLE  8
EOF
}

# jconfigint.h, the library's own settings: size_t's bytes (SIZE_T, as
# unsigned long's), and clang has __builtin_ctzl. No TurboJPEG API, so no
# thread-local storage is asked for.
jconfigint_h() {
    cat <<EOF
#define BUILD  "$(date -u +%Y%m%d)"
#undef inline
#define INLINE  __inline__ __attribute__((always_inline))
#define THREAD_LOCAL
#define PACKAGE_NAME  "libjpeg-turbo"
#define VERSION  "$1"
#define SIZEOF_SIZE_T  $SIZE_T
#define HAVE_BUILTIN_CTZL
#if defined(__has_attribute)
#if __has_attribute(fallthrough)
#define FALLTHROUGH  __attribute__((fallthrough));
#else
#define FALLTHROUGH
#endif
#else
#define FALLTHROUGH
#endif
EOF
}

# The jpeg-static target of its CMakeLists.txt, its decompressing half:
# JPEG_SOURCES without the compressor's files (jc*.c but jcomapi.c, the
# forward DCTs, the memory destination), with the arithmetic decoder, and
# jsimd_none.c for the SIMD it is built without. Nothing here writes a JPEG;
# the Huffman encoder alone takes a minute to compile with the sanitizers.
build_jpeg() {
    upstream=$(basename "$1")
    upstream=${upstream#libjpeg-turbo-}
    mkdir -p "$OUT/obj/jpeg-config"
    jconfig_h "$upstream" >"$PREFIX/include/jconfig.h"
    jconfigint_h "$upstream" >"$OUT/obj/jpeg-config/jconfigint.h"
    sed 's/@COPYRIGHT_YEAR@/1991-2023/' "$1/jversion.h.in" >"$OUT/obj/jpeg-config/jversion.h"
    cp "$1/jpeglib.h" "$1/jmorecfg.h" "$1/jerror.h" "$PREFIX/include/"
    for file in jcomapi jdapimin jdapistd jdatasrc jdcoefct jdcolor jddctmgr jdhuff jdicc jdinput jdmainct \
        jdmarker jdmaster jdmerge jdphuff jdpostct jdsample jdtrans jerror jidctflt jidctfst jidctint jidctred \
        jquant1 jquant2 jutils jmemmgr jmemnobs jaricom jdarith jsimd_none; do
        echo "$1/$file.c"
    done | compile jpeg libjpeg.a -I"$PREFIX/include" -I"$OUT/obj/jpeg-config"
}

# libexif comes without a configure script here: the few settings it asks
# of config.h.
build_exif() {
    mkdir -p "$OUT/obj/exif-config" "$PREFIX/include/libexif"
    printf '#define GETTEXT_PACKAGE "libexif-12"\n#define LOCALEDIR ""\n' >"$OUT/obj/exif-config/config.h"
    echo '#include <stdint.h>' >"$PREFIX/include/libexif/_stdint.h"
    find "$1/libexif" -maxdepth 2 -name '*.c' |
        compile exif libexif.a -I"$OUT/obj/exif-config" -I"$PREFIX/include" -I"$1"
    cp "$1"/libexif/*.h "$PREFIX/include/libexif/"
}

# libtiff's settings, as its CMake writes them into tiffconf.h (the
# installed one) and tif_config.h (its own), for the codecs the readers
# take: none, LZW, Deflate (zlib) and PackBits, with the predictor; no
# JPEG, old JPEG, CCITT, JBIG, LZMA, ZSTD, WebP, LERC, PixarLog, LogLuv,
# NeXT or ThunderScan. Little-endian; SIZE is size_t's bytes:
#     tiffconf_h SIZE
tiffconf_h() {
    cat <<EOF
#ifndef _TIFFCONF_
#define _TIFFCONF_
#include <stddef.h>
#include <stdint.h>
#include <inttypes.h>
#define TIFF_INT16_T int16_t
#define TIFF_INT32_T int32_t
#define TIFF_INT64_T int64_t
#define TIFF_INT8_T int8_t
#define TIFF_UINT16_T uint16_t
#define TIFF_UINT32_T uint32_t
#define TIFF_UINT64_T uint64_t
#define TIFF_UINT8_T uint8_t
#define TIFF_SSIZE_T int$(($1 * 8))_t
#define HAVE_IEEEFP 1
#define HOST_FILLORDER FILLORDER_LSB2MSB
#define HOST_BIGENDIAN 0
#define LZW_SUPPORT 1
#define PACKBITS_SUPPORT 1
#define ZIP_SUPPORT 1
#define STRIPCHOP_DEFAULT TIFF_STRIPCHOP
#define SUBIFD_SUPPORT 1
#define DEFAULT_EXTRASAMPLE_AS_ALPHA 1
#define COLORIMETRY_SUPPORT
#define YCBCR_SUPPORT
#define CMYK_SUPPORT
#define ICC_SUPPORT
#define PHOTOSHOP_SUPPORT
#define IPTC_SUPPORT
#endif
EOF
}
#     tif_config_h UPSTREAM SIZE
tif_config_h() {
    cat <<EOF
#include "tiffconf.h"
#define HAVE_ASSERT_H 1
#define HAVE_FCNTL_H 1
#define HAVE_FSEEKO 1
#define HAVE_STRINGS_H 1
#define HAVE_SYS_TYPES_H 1
#define HAVE_UNISTD_H 1
#define PACKAGE "tiff"
#define PACKAGE_NAME "LibTIFF Software"
#define PACKAGE_TARNAME "tiff"
#define PACKAGE_VERSION "$1"
#define PACKAGE_STRING "LibTIFF Software $1"
#define PACKAGE_BUGREPORT "tiff@lists.maptools.org"
#define PACKAGE_URL ""
#define VERSION "$1"
#define SIZEOF_SIZE_T $2
#define STRIP_SIZE_DEFAULT 8192
#define TIFF_MAX_DIR_COUNT 1048576
#define TIFF_SIZE_FORMAT "zu"
#define TIFF_SSIZE_FORMAT PRId$(($2 * 8))
EOF
}

# libtiff's library files but the codecs left out, which its tif_codec.c
# then names as not configured. On x86-64 its LZW decoder loads 8 bytes at
# a time from wherever the code stands, unaligned (elsewhere it copies
# them), so that check alone is off for it when fuzzing.
build_tiff() {
    upstream=$(basename "$1")
    upstream=${upstream#tiff-}
    mkdir -p "$OUT/obj/tiff-config"
    tiffconf_h "$SIZE_T" >"$PREFIX/include/tiffconf.h"
    tif_config_h "$upstream" "$SIZE_T" >"$OUT/obj/tiff-config/tif_config.h"
    cp "$1/libtiff/tiff.h" "$1/libtiff/tiffio.h" "$1/libtiff/tiffvers.h" "$PREFIX/include/"
    for file in aux close codec color compress dir dirinfo dirread dirwrite dumpmode error extension flush \
        getimage hash_set lzw open packbits predict print read strip swab tile unix version warning write zip; do
        echo "$1/libtiff/tif_$file.c"
    done | compile tiff libtiff.a -I"$OUT/obj/tiff-config" -I"$PREFIX/include" ${FUZZ:+-fno-sanitize=alignment}
}

# What OpenEXR's CMake writes into OpenEXRConfig.h, which openexr_conf.h
# includes, for the C core library: its version and no symbol visibility.
# UPSTREAM is its version.
openexr_config_h() {
    echo "$1" | awk -F. '{
        print "#pragma once"
        printf "#define OPENEXR_VERSION_STRING \"%s\"\n#define OPENEXR_PACKAGE_STRING \"OpenEXR %s\"\n", $0, $0
        printf "#define OPENEXR_VERSION_MAJOR %d\n#define OPENEXR_VERSION_MINOR %d\n", $1, $2
        printf "#define OPENEXR_VERSION_PATCH %d\n", $3
        print "#define OPENEXR_VERSION_RELEASE_TYPE \"\""
        print "#define OPENEXR_VERSION_EXTRA \"\""
        print "#define OPENEXR_EXPORT"
    }'
}

# OpenEXR's C core library alone, its C files as its CMakeLists.txt lists
# them: no threads (an IlmThreadConfig.h defining nothing, as the library
# asks #ifdef ILMTHREAD_THREADING_ENABLED), and no Imath, whose C half-float
# conversion the library then carries itself (an ImathConfig.h older than
# 3.1).
build_exr() {
    upstream=$(basename "$1")
    upstream=${upstream#openexr-}
    mkdir -p "$OUT/obj/exr-config"
    openexr_config_h "$upstream" >"$PREFIX/include/OpenEXRConfig.h"
    echo '#pragma once' >"$OUT/obj/exr-config/IlmThreadConfig.h"
    printf '#pragma once\n#define IMATH_VERSION_MAJOR 3\n#define IMATH_VERSION_MINOR 0\n' \
        >"$OUT/obj/exr-config/ImathConfig.h"
    cp "$1"/src/lib/OpenEXRCore/openexr*.h "$PREFIX/include/"
    find "$1/src/lib/OpenEXRCore" -name '*.c' |
        compile exr libOpenEXRCore.a -I"$OUT/obj/exr-config" -I"$PREFIX/include"
}

# libwebp's decoder, as its makefile.unix lists it: src/dec, and the
# decoding halves of src/dsp and src/utils, with the SSE2 and SSE4.1 files
# (empty where the compiler does not target them); no encoder, demuxer or
# threads.
build_webp() {
    mkdir -p "$PREFIX/include/webp"
    cp "$1/src/webp/decode.h" "$1/src/webp/types.h" "$PREFIX/include/webp/"
    {
        for file in alpha buffer frame idec io quant tree vp8 vp8l webp; do
            echo "$1/src/dec/${file}_dec.c"
        done
        for file in alpha_processing cpu dec dec_clip_tables filters lossless rescaler upsampling yuv; do
            for variant in "" _sse2 _sse41; do
                [ ! -f "$1/src/dsp/$file$variant.c" ] || echo "$1/src/dsp/$file$variant.c"
            done
        done
        for file in bit_reader color_cache filters huffman quant_levels_dec random rescaler thread; do
            echo "$1/src/utils/${file}_utils.c"
        done
        echo "$1/src/utils/utils.c"
    } | compile webp libwebp.a -I"$1"
}

# Milliseconds since the epoch, for the times reported.
now() { date +%s%3N; }
seconds_since() { echo "$1" | awk -v now="$(now)" '{ printf "%.1f", (now - $1) / 1000 }'; }

# Runs a step with its output in OUT/log/NAME.log, shown only if it fails:
#     logged NAME COMMAND...
logged() {
    log=$OUT/log/$1.log
    shift
    mkdir -p "$OUT/log"
    trap 'echo "failed; $log says:" >&2; cat "$log" >&2' EXIT
    "$@" >"$log" 2>&1
    trap - EXIT
}

started=$(now)
[ -n "$SOURCES" ] || logged apt add_sources
pairs=""
for library in $pending; do
    pairs="$pairs $library=$(version_of "$library")"
done
# shellcheck disable=SC2086 # one word a library
logged fetch fetch $pairs
echo "sources of$pending ${SOURCES:+brought, }checked and unpacked in $(seconds_since "$started") s" >&2

mkdir -p "$PREFIX/include" "$PREFIX/lib"
for pair in $pairs; do
    library=${pair%%=*} version=${pair#*=} begun=$(now)
    logged "$library" "build_$library" "$(folder_of "$library" "$version")"
    desktop=$(desktop_version "$library")
    packages_of "$library"
    echo "$library $source $version${desktop:+ (desktop: $desktop)}" >"$OUT/$library.built"
    echo "$library $version built in $(seconds_since "$begun") s" >&2
done
for library in $LIBRARIES; do
    cat "$OUT/$library.built"
done >"$OUT/versions.txt"
echo "libraries ready in $(seconds_since "$started") s" >&2
