#!/bin/sh
# Builds everything and runs every test, side by side on every core; then
# the same C++ tests built with AddressSanitizer and
# UndefinedBehaviorSanitizer; then fuzzes the image loading for a minute
# from each kind of seed (TGA, PNG, JPEG, TIFF, OpenEXR, WebP) at once,
# the readers' libraries instrumented too; then runs the viewer
# under Valgrind's memcheck; then makes the Debian package of the tested
# build and checks it (tests/package_test.sh). The GL tests run under Xvfb,
# one of each test's own, and draw with Mesa's software renderer, llvmpipe,
# for GLX and EGL alike, whatever GPU the machine has: no display or GPU is
# needed, and the pictures are drawn as the reference pictures were. Any
# failure stops the script with a non-zero status, and so does a test run
# that finds no test. Each stage prints its time; the last two lines sum up
# the stages and the test runs.
set -eu
cd "$(dirname "$0")/.."
. scripts/lib.sh

# The time of each stage, said when it ends and gathered for the end.
script_start=$(date +%s)
stages="" stage_start=$script_start
stage_done() {
    now=$(date +%s)
    echo "stage $1: $((now - stage_start)) s"
    stages="${stages:+$stages, }$1 $((now - stage_start)) s"
    stage_start=$now
}

require_packages $BUILD_PACKAGES $DISPLAY_PACKAGES $TEST_PACKAGES $SANITIZER_PACKAGES $MEMCHECK_PACKAGES \
    $PACKAGE_PACKAGES $WEB_MODULE_PACKAGES
# Khronos' glTF validator and puppeteer-core run on Node (Debian's only
# where there is no npm), each at a fixed version, once, in build/.
command -v npm >/dev/null || require_packages nodejs npm
[ -d build/gltf-validator/node_modules/gltf-validator ] ||
    npm install --prefix build/gltf-validator --no-audit --no-fund --silent gltf-validator@2.0.0-dev.3.10
require_puppeteer build
# The tests' reference pictures are llvmpipe's (ctest sets this too).
pin_software_gl
stage_done packages

# Runs the tests of a build folder on every core (ctest's own summary, "100%
# tests passed, 0 tests failed out of N", is kept for the closing line).
jobs=${JOBS:-$(nproc)}
run_ctest() {
    dir=$1
    shift
    rm -f "$dir/ctest.out"
    if ctest --test-dir "$dir" --output-on-failure --no-tests=error -j "$jobs" "$@" >"$dir/ctest.out" 2>&1; then
        cat "$dir/ctest.out"
    else
        cat "$dir/ctest.out"
        echo "tests FAILED in $dir" >&2
        exit 1
    fi
}
passed() { sed -n 's/.* 0 tests failed out of \([0-9]*\)$/\1/p' "$1/ctest.out" | tail -n 1; }

# The programs as the package builds them, with the tests beside them: what
# is tested is what is packaged, and memcheck runs it too. Every option is
# given rather than left to the cache, whatever configured build/ before.
build_for_package build -DVIEWER_TESTS=ON -DVIEWER_NODE_FOLDER="$PWD/build"
stage_done build

run_ctest build
stage_done tests

# Any sanitizer finding aborts the test it is in. Leaks inside the GL driver
# are suppressed (tests/lsan.supp says which and why); ours are not. -O1
# with line tables, as AddressSanitizer advises: a third of -O3's build
# time, and a report still names the line. The web page's module is the
# tested build's (emscripten's code is not sanitized).
build_in build-asan "" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" -DVIEWER_TESTS=ON \
    -DVIEWER_WEB_MODULE="$PWD/build/web" \
    -DVIEWER_BENCH=OFF -DVIEWER_FUZZ=OFF -DVIEWER_SANITIZE=ON -DVIEWER_MAN_PAGES=OFF -DVIEWER_WERROR="$WERROR" \
    -DVIEWER_NODE_FOLDER="$PWD/build"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0" UBSAN_OPTIONS=print_stacktrace=1
run_ctest build-asan --timeout 900
unset LSAN_OPTIONS UBSAN_OPTIONS
stage_done sanitizers

# Memcheck's viewer keeps one core busy (Valgrind runs one thread at a
# time): the fuzzing and the package's check run beside it.
memcheck_start=$(date +%s)
sh -c 'sh scripts/memcheck.sh build >build/memcheck.out 2>&1; echo $? >build/memcheck.status; date +%s >build/memcheck.end' &
memcheck=$!
sh scripts/fuzz.sh 60
stage_done fuzz
# The package of the tested build, unpacked into a temporary folder by the
# check; nothing is installed.
sh tests/package_test.sh "$(package_in build)"
stage_done package
wait $memcheck
cat build/memcheck.out
[ "$(cat build/memcheck.status)" = 0 ] || exit 1
memcheck_time=$(($(cat build/memcheck.end) - memcheck_start))
stage_start=$(date +%s)
stages="$stages, memcheck $memcheck_time s (beside the fuzzing and the package)"

# Closing lines: the stages, and the test runs of this script with the
# package check; each failure has stopped it already.
echo "stages: $stages; in all $(($(date +%s) - script_start)) s"
plain=$(passed build)
sanitized=$(passed build-asan)
echo "tests: $((plain + sanitized + 1)) passed, 0 failed ($plain plain, $sanitized with the sanitizers, the package check)"
