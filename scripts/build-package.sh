#!/bin/sh
# Builds the Debian package in build-package/ with Debian's hardening flags
# (dpkg-buildflags) and prints its path as the last line; the build's own
# output goes to standard error. Its version is the project's, from
# CMakeLists.txt. Install it with
#     apt-get install ./build-package/dispdome_*_amd64.deb
set -eu
cd "$(dirname "$0")/.."
. scripts/lib.sh
require_packages $BUILD_PACKAGES $PACKAGE_PACKAGES

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
build_in build-package "" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DVIEWER_MAN_PAGES=ON \
    -DVIEWER_TESTS=OFF -DVIEWER_BENCH=OFF -DVIEWER_FUZZ=OFF -DVIEWER_SANITIZE=OFF -DVIEWER_WERROR="$WERROR" \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >&2
rm -f build-package/*.deb
(cd build-package && cpack -G DEB) >&2
ls "$PWD"/build-package/*.deb
