#!/bin/sh
# Builds the Debian package in build-package/ with Debian's hardening flags
# (dpkg-buildflags) and prints its path as the last line; the build's own
# output goes to standard error. Its version is the project's, from
# CMakeLists.txt. Install it with
#     apt-get install ./build-package/dispdome_*_amd64.deb
set -eu
cd "$(dirname "$0")/.."
. scripts/lib.sh
require_packages $BUILD_PACKAGES $PACKAGE_PACKAGES $WEB_MODULE_PACKAGES

build_for_package build-package -DVIEWER_TESTS=OFF >&2
package_in build-package
