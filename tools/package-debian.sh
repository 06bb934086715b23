#!/usr/bin/env bash
# Builds the Debian package build-deb/velloran_<version>_amd64.deb with Debian's
# compiler and linker hardening flags, then lists what lintian says of it.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup-debian.sh
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CXXFLAGS LDFLAGS
cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=Release -DVELLORAN_BUILD_TESTS=OFF -DVELLORAN_BUILD_BENCH=OFF
cmake --build build-deb -j"$(nproc)"
rm -f build-deb/velloran_*.deb
(cd build-deb && cpack -G DEB)
lintian --display-info build-deb/velloran_*_amd64.deb
