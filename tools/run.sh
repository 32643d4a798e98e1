#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, starts the bundled unit emulator on
# 127.0.0.1:4000 in the background and opens the client beside it.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/build.sh

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found (DISPLAY and WAYLAND_DISPLAY are empty)." >&2
  echo "Run this from a desktop session, or under a virtual display: xvfb-run -a tools/run.sh" >&2
  exit 1
fi

build/lumora-7150r-unit --listen "${UNIT_LISTEN:-127.0.0.1:4000}" >build/unit.log 2>&1 &
unit=$!
trap 'kill "$unit" 2>/dev/null || true' EXIT
echo "Unit emulator listening on ${UNIT_LISTEN:-127.0.0.1:4000} (log: build/unit.log)."
echo "In the client, type 127.0.0.1 as the address and 4000 as the port, then press Connect."
build/lumora-7150r-sim
