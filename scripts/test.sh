#!/bin/sh
# Builds everything and runs every test, then the same tests built with
# AddressSanitizer and UndefinedBehaviorSanitizer, then fuzzes the image
# reader for a minute, then runs the viewer under Valgrind's memcheck. The GL tests run under Xvfb with Mesa's software
# renderer, so no display or GPU is needed. Any failure stops the script
# with a non-zero status.
set -eu
cd "$(dirname "$0")/.."
. scripts/packages.sh

require_packages $BUILD_PACKAGES $DISPLAY_PACKAGES $SANITIZER_PACKAGES libgtest-dev

# Warnings are errors in CI.
werror=OFF
[ -n "${CI:-}" ] && werror=ON

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DVIEWER_WERROR=$werror
cmake --build build -j "$(nproc)"
xvfb-run -a -s "-screen 0 1024x1024x24" ctest --test-dir build --output-on-failure

# Any sanitizer finding aborts the test it is in. Leaks inside the GL driver
# are suppressed (tests/lsan.supp says which and why); ours are not.
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVIEWER_SANITIZE=ON -DVIEWER_WERROR=$werror
cmake --build build-asan -j "$(nproc)"
LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0" UBSAN_OPTIONS=print_stacktrace=1 \
    xvfb-run -a -s "-screen 0 1024x1024x24" ctest --test-dir build-asan --output-on-failure --timeout 900

sh scripts/fuzz.sh 60
sh scripts/memcheck.sh
