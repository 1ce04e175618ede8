# Sourced by the run and test scripts: installs the Debian packages named in
# the arguments that are not installed yet (needs root, as on a fresh Debian 12).
require_packages() {
    missing=""
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
            missing="$missing $package"
    done
    [ -z "$missing" ] && return 0
    echo "installing:$missing" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq >&2 && apt-get install -y -qq --no-install-recommends $missing >&2
}

BUILD_PACKAGES="cmake make g++ pkg-config libgl-dev libglu1-mesa-dev freeglut3-dev libgl1-mesa-dri libpng-dev nlohmann-json3-dev libegl-dev libegl-mesa0 libjpeg62-turbo-dev libexif-dev help2man"
DISPLAY_PACKAGES="xvfb xauth x11-apps imagemagick"
# Chromium draws the web page the export writes, headless with its own
# software WebGL2; Firefox on the X display with Mesa's.
TEST_PACKAGES="libgtest-dev assimp-utils xdotool chromium firefox-esr"
# The Debian package: dpkg-shlibdeps (which CPack finds ELF files with
# file), and the package check's lintian and man.
PACKAGE_PACKAGES="dpkg-dev file lintian man-db"
# GNU time measures the tools' peak memory in scripts/bench-normals.sh.
BENCH_PACKAGES="libbenchmark-dev time"
# The sanitizer build uses g++; the fuzz target needs clang and its libFuzzer.
SANITIZER_PACKAGES="clang libclang-rt-14-dev"
MEMCHECK_PACKAGES="valgrind xdotool"
