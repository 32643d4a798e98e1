#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# clang-tidy over every source of the client, the command line, the emulator,
# the benchmarks, the fuzz targets, the soak driver and the tests (.clang-tidy
# says which checks), from the compile commands of a configured build folder
# (default build/). Exits non-zero on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
tidy=$(command -v clang-tidy || command -v clang-tidy-14)
runner=$(command -v run-clang-tidy || command -v run-clang-tidy-14)
# Sources only; their headers come in through HeaderFilterRegex.
"$runner" -quiet -clang-tidy-binary "$tidy" -p "$build" -j "${TIDY_JOBS:-$(nproc)}" \
  "$PWD/(app|bench|cli|emulator|fuzz|log|ping|platform|protocol|settings|tests|tools/soak)/.*\.cpp$" 2>/dev/null
