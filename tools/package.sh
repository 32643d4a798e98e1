#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package lumora-7150r_<version>_<arch>.deb into the
# current folder (or OUT_DIR): a Release build configured for /usr in
# build-package/, packed by CPack. dpkg-shlibdeps works out the dependencies
# from the programs themselves.
#   tools/package.sh
#   sudo apt-get install ./lumora-7150r_1.05_amd64.deb
set -euo pipefail
out=$(realpath "${OUT_DIR:-.}")
cd "$(dirname "$0")/.."
tools/install-deps.sh
# Debian's own build flags with all its hardening: fortified libc calls, a
# stack protector, relocations bound at start-up and then read-only. Release's
# -O3 comes after their -O2 and wins.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP=-g
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  "-DCMAKE_CXX_FLAGS=$cxxflags" "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" \
  -DBUILD_TESTING=OFF -DLUMORA_BUILD_BENCH=OFF >/dev/null
cmake --build build-package -j "$(nproc)"
(cd build-package && cpack -G DEB -B "$out/.cpack" >/dev/null)
mv "$out"/.cpack/*.deb "$out"/
rm -rf "$out/.cpack"
ls "$out"/lumora-7150r_*.deb
