#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds and runs every test headless: once in
# Release (build/), then once more built with AddressSanitizer and
# UndefinedBehaviorSanitizer (build-asan/). Between the two, clang-tidy over
# the sources and lintian over the Debian package. QUICK=1 skips the second
# pass.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/build.sh

run_suite() {
  (cd "$1" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j 2 --timeout 600)
}

echo "== Test suite (Release)"
run_suite build

# The naming and the other checks in .clang-tidy.
echo "== clang-tidy"
tools/tidy.sh build

echo "== lintian (the Debian package)"
tools/lint-package.sh

if [ "${QUICK:-0}" != 1 ]; then
  echo "== Test suite (AddressSanitizer + UndefinedBehaviorSanitizer)"
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMORA_SANITIZE=ON \
    -DLUMORA_BUILD_BENCH=OFF >/dev/null
  cmake --build build-asan -j "$(nproc)"
  run_suite build-asan
fi
