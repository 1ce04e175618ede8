#!/bin/sh
# Builds the Debian package in build-package/ with Debian's hardening flags
# (dpkg-buildflags) and prints its path as the last line; the build's own
# output goes to standard error. Install it with
#     apt-get install ./build-package/dispdome_1.0.0_amd64.deb
set -eu
cd "$(dirname "$0")/.."
. scripts/packages.sh
require_packages $BUILD_PACKAGES $PACKAGE_PACKAGES

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
werror=OFF
[ -n "${CI:-}" ] && werror=ON
cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DVIEWER_TESTS=OFF -DVIEWER_BENCH=OFF -DVIEWER_FUZZ=OFF -DVIEWER_SANITIZE=OFF -DVIEWER_WERROR=$werror \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >&2
cmake --build build-package -j "$(nproc)" >&2
rm -f build-package/*.deb
(cd build-package && cpack -G DEB) >&2
ls "$PWD"/build-package/*.deb
