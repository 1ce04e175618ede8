#!/bin/sh
# Builds everything and runs every test, then the same tests built with
# AddressSanitizer and UndefinedBehaviorSanitizer, then fuzzes the image
# loading for a minute from each kind of seed (TGA, PNG, JPEG), then runs the
# viewer under Valgrind's memcheck, then builds the Debian package and checks
# it (tests/package_test.sh). The GL tests run under Xvfb and draw with
# Mesa's software renderer, llvmpipe, for GLX and EGL alike, whatever GPU
# the machine has: no display or GPU is needed, and the pictures are drawn
# as the reference pictures were. Any failure stops the script with a
# non-zero status, and so does a test run that finds no test; the last line
# sums up the test runs.
set -eu
cd "$(dirname "$0")/.."
. scripts/lib.sh

require_packages $BUILD_PACKAGES $DISPLAY_PACKAGES $TEST_PACKAGES $SANITIZER_PACKAGES $MEMCHECK_PACKAGES \
    $PACKAGE_PACKAGES
# Khronos' glTF validator runs on Node; Debian's only where there is no npm.
command -v npm >/dev/null || require_packages nodejs npm
# The tests' reference pictures are llvmpipe's (ctest sets this too).
pin_software_gl

# Every option is given rather than left to the cache: the run script
# configures build/ without the tests, and this must build them whatever ran
# before it.
configure() {
    dir=$1
    shift
    build_in "$dir" "" -DVIEWER_TESTS=ON -DVIEWER_BENCH=OFF -DVIEWER_FUZZ=OFF -DVIEWER_WERROR="$WERROR" "$@"
    # The validator the export test runs, at a fixed version, in the build folder.
    [ -d "$dir/gltf-validator/node_modules/gltf-validator" ] ||
        npm install --prefix "$dir/gltf-validator" --no-audit --no-fund --silent gltf-validator@2.0.0-dev.3.10
    require_puppeteer "$dir"
}

# Runs the tests in a build folder under Xvfb; ctest's own
# summary ("100% tests passed, 0 tests failed out of N") is kept for the
# closing line.
run_ctest() {
    dir=$1
    shift
    rm -f "$dir/ctest.out"
    if under_xvfb ctest --test-dir "$dir" --output-on-failure --no-tests=error "$@" \
        >"$dir/ctest.out" 2>&1; then
        cat "$dir/ctest.out"
    else
        cat "$dir/ctest.out"
        echo "tests FAILED in $dir" >&2
        exit 1
    fi
}
passed() { sed -n 's/.* 0 tests failed out of \([0-9]*\)$/\1/p' "$1/ctest.out" | tail -n 1; }

configure build -DCMAKE_BUILD_TYPE=Release -DVIEWER_SANITIZE=OFF
run_ctest build

# Any sanitizer finding aborts the test it is in. Leaks inside the GL driver
# are suppressed (tests/lsan.supp says which and why); ours are not.
configure build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVIEWER_SANITIZE=ON
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0" UBSAN_OPTIONS=print_stacktrace=1
run_ctest build-asan --timeout 900
unset LSAN_OPTIONS UBSAN_OPTIONS

sh scripts/fuzz.sh 60
sh scripts/memcheck.sh

# The package, unpacked into a temporary folder; nothing is installed.
deb=$(sh scripts/build-package.sh)
sh tests/package_test.sh "$deb"

# One closing line over the two test runs of this script and the package
# check; each failure has stopped it already.
plain=$(passed build)
sanitized=$(passed build-asan)
echo "tests: $((plain + sanitized + 1)) passed, 0 failed ($plain plain, $sanitized with the sanitizers, the package check)"
