#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages the build, the tests and the tools need,
# asking apt only for what is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config ccache
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev
  # Qt's HttpServer CMake package looks for WebSockets, a dependency the
  # Debian package does not declare.
  qt6-httpserver-dev qt6-websockets-dev prometheus-cpp-dev
  fonts-liberation fonts-dejavu-core
  iproute2 util-linux tzdata
  libbenchmark-dev
  desktop-file-utils appstream groff-base man-db
  # The command line's manual page is made from its --help.
  help2man
  dpkg-dev file
  # jq reads the compile commands for tools/tidy.sh.
  clang-tidy jq lintian
  sigrok-cli gtkwave
  # The exporter's tests: a real Prometheus and its promtool, curl to ask
  # them, systemd-analyze for the service and the kill its reload runs.
  prometheus curl systemd procps
  # The gateway's MQTT side: its client library, and a real broker with its
  # command-line clients for the tests.
  libmosquitto-dev mosquitto mosquitto-clients
  # Test plans: the YAML reader, and the readers of the reports a station's
  # CI uses, to check what run writes.
  libyaml-cpp-dev libxml2-utils python3-junitparser perl
  # serve --web-config: bcrypt hashes checked by libcrypt, compared in
  # constant time by OpenSSL, which also makes the tests' throw-away keys.
  libcrypt-dev libssl-dev openssl
  # The gateway's Modbus TCP clients for its end-to-end test: mbpoll and
  # pymodbus, whose client module needs serial-asyncio, only recommended.
  mbpoll python3-pymodbus python3-serial-asyncio
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
