#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package lumora-7150r_<version>_<arch>.deb into the
# current folder (or OUT_DIR): a Release build configured for /usr in
# build-package/, packed by CPack. dpkg-shlibdeps works out the dependencies
# from the programs themselves. PACKAGE_BUILD_DIR=build packs the build the
# tests ran on instead (tools/test.sh; it was configured with the same flags,
# DEBIAN_FLAGS=1 tools/build.sh), so nothing is built twice.
#   tools/package.sh
#   sudo apt-get install ./lumora-7150r_1.05_amd64.deb
set -euo pipefail
out=$(realpath "${OUT_DIR:-.}")
cd "$(dirname "$0")/.."
tools/install-deps.sh
source tools/debian-flags.sh
build=${PACKAGE_BUILD_DIR:-build-package}
# Its own folder needs neither the tests nor the benchmarks; a shared one keeps them.
[ "$build" = build-package ] && own=(-DBUILD_TESTING=OFF -DLUMORA_BUILD_BENCH=OFF) || own=()
cmake -S . -B "$build" -G Ninja "${debian_cmake_args[@]}" "${own[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"
(cd "$build" && cpack -G DEB -B "$out/.cpack" >/dev/null)
mv "$out"/.cpack/*.deb "$out"/
rm -rf "$out/.cpack"
ls "$out"/lumora-7150r_*.deb
