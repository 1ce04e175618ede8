# Sourced by the other scripts once they stand in the repository folder:
# the Debian packages each needs, the configure-and-build step, the Xvfb
# wrapper, and warnings as errors in CI.
# shellcheck shell=sh disable=SC2034 # the variables are the callers'

# Installs the Debian packages named in the arguments that are not installed
# yet (needs root, as on a fresh Debian 12).
require_packages() {
    missing=""
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
            missing="$missing $package"
    done
    [ -z "$missing" ] && return 0
    echo "installing:$missing" >&2
    export DEBIAN_FRONTEND=noninteractive
    # shellcheck disable=SC2086 # one word a package
    apt-get update -qq >&2 && apt-get install -y -qq --no-install-recommends $missing >&2
}

BUILD_PACKAGES="cmake make g++ pkg-config libgl-dev libglu1-mesa-dev freeglut3-dev libgl1-mesa-dri libpng-dev nlohmann-json3-dev libegl-dev libegl-mesa0 libjpeg62-turbo-dev libexif-dev libtiff-dev libopenexr-dev libwebp-dev"
# ImageMagick writes OpenEXR with its extra coders.
DISPLAY_PACKAGES="xvfb xauth x11-apps imagemagick libmagickcore-6.q16-6-extra"
# Chromium draws the web page the export writes, headless with its own
# software WebGL2; Firefox on the X display with Mesa's.
# ImageMagick with float pixels writes heights below 0 and above 1.
TEST_PACKAGES="libgtest-dev assimp-utils xdotool chromium firefox-esr imagemagick-6.q16hdri libmagickcore-6.q16hdri-6-extra"
# The Debian package: its man pages (help2man), dpkg-shlibdeps (which CPack
# finds ELF files with file), and the package check's lintian and man.
PACKAGE_PACKAGES="help2man dpkg-dev file lintian man-db"
# The web page's WebAssembly module: emscripten, and dpkg-dev to unpack the
# Debian sources of the libraries it is built with (build-wasm-libs.sh).
WEB_MODULE_PACKAGES="emscripten dpkg-dev"
# GNU time measures the tools' peak memory in scripts/bench-normals.sh.
BENCH_PACKAGES="libbenchmark-dev time"
# The sanitizer build uses g++; the fuzz target needs clang and its libFuzzer.
SANITIZER_PACKAGES="clang libclang-rt-14-dev"
MEMCHECK_PACKAGES="valgrind xdotool"

# Warnings are errors in CI (CI set in the environment), for
# -DVIEWER_WERROR=$WERROR.
WERROR=OFF
[ -n "${CI:-}" ] && WERROR=ON

# Configures the build folder DIR with the CMake options given, then builds
# TARGETS (names apart by spaces; "" builds all) on every core:
#     build_in DIR "TARGETS" [CMAKE OPTION...]
# Both steps print to standard output; the callers send it where they want.
build_in() {
    dir=$1 targets=$2
    shift 2
    cmake -S . -B "$dir" "$@" || return
    # shellcheck disable=SC2086 # one word a target
    cmake --build "$dir" ${targets:+--target $targets} -j "${JOBS:-$(nproc)}"
}

# The web page's module's libraries, made in DIR by the one step that
# fetches anything (scripts/build-wasm-libs.sh, which returns at once when
# they are made), or those VIEWER_WASM_LIBS in the environment names, made
# elsewhere; prints their folder, for -DVIEWER_WASM_LIBS. The step needs
# emscripten and dpkg-dev (WEB_MODULE_PACKAGES), and the network the first
# time.
wasm_libraries() {
    libs=${VIEWER_WASM_LIBS:-$PWD/$1}
    sh scripts/build-wasm-libs.sh "$libs" >&2 && echo "$libs"
}

# Configures DIR as the Debian package is built: Debian's hardening flags
# (dpkg-buildflags), installed under /usr, with its man pages; then builds
# it, the web page's module with it (its libraries made first, in
# DIR/wasm-libs). The options given come after, to add to these (the
# tests):
#     build_for_package DIR [CMAKE OPTION...]
build_for_package() {
    dir=$1
    shift
    libs=$(wasm_libraries "$dir/wasm-libs") || return
    hardened() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
    build_in "$dir" "" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DVIEWER_MAN_PAGES=ON \
        -DVIEWER_WEB_MODULE=ON -DVIEWER_WASM_LIBS="$libs" -DVIEWER_BENCH=OFF -DVIEWER_FUZZ=OFF -DVIEWER_SANITIZE=OFF -DVIEWER_WERROR="$WERROR" \
        -DCMAKE_CXX_FLAGS="$(hardened CPPFLAGS) $(hardened CXXFLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(hardened LDFLAGS)" "$@"
}

# Makes the Debian package of a folder built by build_for_package and prints
# its path; CPack's own output goes to standard error.
package_in() {
    rm -f "$1"/*.deb
    (cd "$1" && cpack -G DEB) >&2
    ls "$PWD/$1"/*.deb
}

# Runs a command under a fresh Xvfb display of 1024 x 1024 at 24 bits, big
# enough for the viewer's window at (250, 250), of its own: Xvfb picks a free
# display number, so that runs side by side never race for one. Every
# script that sources this file stands one folder below the repository's.
ON_DISPLAY=$(cd "$(dirname "$0")/.." && pwd)/tests/on_display.sh
under_xvfb() {
    sh "$ON_DISPLAY" "$@"
}

# The programs draw with Mesa's software renderer, llvmpipe, in GLX and in
# EGL alike, whatever GPU the machine has: the reference pictures are
# llvmpipe's. Exported for whatever compares pictures (the tests).
pin_software_gl() {
    export LIBGL_ALWAYS_SOFTWARE=1 GALLIUM_DRIVER=llvmpipe
}

# puppeteer-core, at a fixed version, in DIR/puppeteer: what drives Debian's
# chromium for the web page's test and screenshot. It downloads no browser.
require_puppeteer() {
    command -v npm >/dev/null || require_packages nodejs npm
    [ -d "$1/puppeteer/node_modules/puppeteer-core" ] ||
        PUPPETEER_SKIP_DOWNLOAD=1 npm install --prefix "$1/puppeteer" --no-audit --no-fund --silent \
            puppeteer-core@24.43.1
}
