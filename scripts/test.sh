#!/bin/sh
# Builds everything and runs every test; the GL tests run under Xvfb with
# Mesa's software renderer, so no display or GPU is needed.
set -eu
cd "$(dirname "$0")/.."
. scripts/packages.sh

require_packages $BUILD_PACKAGES $DISPLAY_PACKAGES $TEST_PACKAGES

# Warnings are errors in CI.
werror=OFF
[ -n "${CI:-}" ] && werror=ON

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DVIEWER_WERROR=$werror
cmake --build build -j "$(nproc)"
xvfb-run -a -s "-screen 0 1024x1024x24" ctest --test-dir build --output-on-failure
