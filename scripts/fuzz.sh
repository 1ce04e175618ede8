#!/bin/sh
# Fuzzes the image loading for SECONDS (default 60) from each kind's seed
# files in fuzz/corpus-KIND: TGA, PNG and JPEG through one target
# (image_fuzz, as loadImage dispatches them), TIFF, OpenEXR and WebP each
# through its reader's own (tiff_fuzz, exr_fuzz, webp_fuzz); the six kinds at
# once, one process each: libFuzzer with AddressSanitizer and
# UndefinedBehaviorSanitizer. The readers' libraries (zlib, libpng,
# libjpeg-turbo, libexif, libtiff, OpenEXR's core, libwebp) are built with
# the fuzzer's coverage and the same checks from Debian's sources first
# (scripts/build-wasm-libs.sh --fuzz, into build-fuzz/libs; once), from the
# sources the module's step fetched (build/wasm-libs/sources, or under
# VIEWER_WASM_LIBS) when there are some: about 90 s on 2 cores the first
# time, nothing after. New inputs it finds are kept in
# build-fuzz/corpus-KIND. Any crash, leak, time-out or sanitizer report ends
# the run, leaves the input that caused it in build-fuzz/ and makes the
# script fail.
set -eu
cd "$(dirname "$0")/.."
. scripts/lib.sh
seconds=${1:-60}

require_packages $BUILD_PACKAGES $SANITIZER_PACKAGES dpkg-dev
sources=${VIEWER_WASM_LIBS:-$PWD/build/wasm-libs}/sources
[ -d "$sources" ] || sources=""
sh scripts/build-wasm-libs.sh --fuzz build-fuzz/libs ${sources:+"$sources"}
build_in build-fuzz "image_fuzz tiff_fuzz exr_fuzz webp_fuzz" -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVIEWER_TESTS=OFF -DVIEWER_FUZZ=ON -DVIEWER_FUZZ_LIBS="$PWD/build-fuzz/libs" \
    >/dev/null

# The target of each kind.
target_of() {
    case $1 in
        tiff | exr | webp) echo "$1_fuzz" ;;
        *) echo image_fuzz ;;
    esac
}

# One kind: its log in build-fuzz/fuzz-KIND.log, its exit status in
# build-fuzz/fuzz-KIND.status.
fuzz() {
    mkdir -p build-fuzz/corpus-$1
    # The reader's console lines (closed file descriptors 1 and 2) would only
    # slow it down; libFuzzer and the sanitizers still report on a copy of 2.
    # A time-out is a unit taking 30 s: within the pixel ceiling a couple of
    # hundred bytes of arithmetic-coded JPEG may claim a gigabyte of pixels,
    # which takes about ten seconds to decode on a loaded machine; slow, not
    # stuck.
    status=0
    "./build-fuzz/$(target_of "$1")" -max_total_time="$seconds" -max_len=4096 -timeout=30 -rss_limit_mb=2048 \
        -close_fd_mask=3 -print_final_stats=1 -artifact_prefix=build-fuzz/$1- \
        build-fuzz/corpus-$1 fuzz/corpus-$1 >build-fuzz/fuzz-$1.log 2>&1 || status=$?
    echo $status >build-fuzz/fuzz-$1.status
}
kinds="tga png jpeg tiff exr webp"
for kind in $kinds; do fuzz $kind & done
wait

failed=""
for kind in $kinds; do
    log=build-fuzz/fuzz-$kind.log status=$(cat build-fuzz/fuzz-$kind.status)
    if [ "$status" -ne 0 ] || grep -q -e 'ERROR: ' -e 'runtime error' "$log"; then
        tail -n 60 "$log"
        echo "fuzzing FAILED from $kind seeds (exit status $status); the input is in build-fuzz/, the log in $log" >&2
        failed=yes
        continue
    fi
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    coverage=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -n 1)
    corpus=$(grep -o 'corp: [0-9]*/[0-9A-Za-z]*' "$log" | tail -n 1)
    echo "fuzzed the image loading from $kind seeds for $seconds s: $executions executions, $coverage (edges, features), $corpus (inputs/bytes), no crash, leak or sanitizer report"
done
[ -z "$failed" ]
