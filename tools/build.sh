#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Configures and builds the whole tree in build/ (Release unless BUILD_TYPE says
# otherwise). DEBIAN_FLAGS=1 configures it as the package is built
# (tools/debian-flags.sh), so tools/package.sh can pack it as it is.
set -euo pipefail
cd "$(dirname "$0")/.."
args=(-DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Release}")
if [ "${DEBIAN_FLAGS:-0}" = 1 ]; then
  source tools/debian-flags.sh
  args=("${debian_cmake_args[@]}")
fi
# Through ccache where there is one (tools/install-deps.sh installs it): what
# did not change since an earlier build comes from the cache instead of the
# compiler, in a fresh clone too. Paths in the tree count relative to it, so a
# clone elsewhere finds the same entries.
if command -v ccache >/dev/null; then
  args+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=$PWD
fi
cmake -S . -B build -G Ninja "${args[@]}" >/dev/null
cmake --build build -j "$(nproc)"
