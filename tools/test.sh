#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds and runs every test headless: once in
# Release (build/), then once more built with AddressSanitizer and
# UndefinedBehaviorSanitizer (build-asan/). Beside them, clang-tidy over the
# sources and lintian over the Debian package. QUICK=1 skips the second pass.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
# Built as the package is, so lintian reads the package packed from this very
# build instead of a third build of the tree.
DEBIAN_FLAGS=1 tools/build.sh

run_suite() {
  (cd "$1" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j 2 --timeout 600)
}

# The naming and the other checks in .clang-tidy. It is CPU work and the
# suites mostly wait on sockets and timers, so it runs meanwhile, below them in
# priority, in a process group of its own to end with the script; its findings
# are shown at the end.
tidy_log=$(mktemp)
setsid nice -n 10 tools/tidy.sh build >"$tidy_log" 2>&1 &
tidy=$!
trap 'kill -- -"$tidy" 2>/dev/null || true; rm -f "$tidy_log"' EXIT

echo "== Test suite (Release)"
run_suite build

echo "== lintian (the Debian package)"
PACKAGE_BUILD_DIR=build tools/lint-package.sh

if [ "${QUICK:-0}" != 1 ]; then
  echo "== Test suite (AddressSanitizer + UndefinedBehaviorSanitizer)"
  # -O1, the level the sanitizers are made for (-O2 may optimise a bad access
  # away), and line tables only, which is all their stack traces read: a third
  # less compile time than RelWithDebInfo's -O2 -g.
  # Through ccache as tools/build.sh builds; the line tables name the sources
  # relative to the tree, so that a clone elsewhere finds the same entries.
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=$PWD
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMORA_SANITIZE=ON \
    "-DCMAKE_CXX_FLAGS=-ffile-prefix-map=$PWD=." \
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" -DLUMORA_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
  cmake --build build-asan -j "$(nproc)"
  run_suite build-asan
fi

echo "== clang-tidy"
status=0
wait "$tidy" || status=$?
cat "$tidy_log"
exit "$status"
