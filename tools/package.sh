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
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DBUILD_TESTING=OFF -DLUMORA_BUILD_BENCH=OFF >/dev/null
cmake --build build-package -j "$(nproc)"
(cd build-package && cpack -G DEB -B "$out/.cpack" >/dev/null)
mv "$out"/.cpack/*.deb "$out"/
rm -rf "$out/.cpack"
ls "$out"/lumora-7150r_*.deb
