# SPDX-License-Identifier: GPL-3.0-or-later
# What the end-to-end checks share, sourced by each: a scratch folder that
# goes with every process started into `pids` when the check ends, however it
# ends; the window's settings kept out of reach (the command line reads them
# for its defaults); and the helpers below.

# need TOOL[:PACKAGE]...: a skip to CTest (77) unless every tool is there.
need() {
  local wanted tool
  for wanted in "$@"; do
    tool=${wanted%%:*}
    if ! command -v "$tool" >/dev/null; then
      echo "SKIPPED: $tool is not installed (tools/install-deps.sh installs ${wanted##*:})"
      exit 77
    fi
  done
}

work=$(mktemp -d)
pids=()
stop_all() {
  local pid
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap stop_all EXIT
trap 'exit 1' INT TERM HUP
export XDG_CONFIG_HOME=$work/config

# fail WHY: says why, with the tail of every log and output of the check.
fail() {
  echo "FAIL: $*"
  local log
  for log in "$work"/*.log "$work"/*.out; do
    [ -s "$log" ] && { echo "--- $(basename "$log")"; tail -n 20 "$log"; }
  done
  exit 1
}

# until_within SECONDS COMMAND...: COMMAND every tenth of a second until it succeeds.
until_within() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# start_listening NAME COMMAND...: starts a program that prints "listening on
# 127.0.0.1:PORT" (or, with `listening` set, that text before the address)
# once it serves, and sets `port` to that port and `pid` to the process.
start_listening() {
  local name=$1 line
  shift
  "$@" >"$work/$name.out" 2>"$work/$name.log" &
  pid=$!
  pids+=("$pid")
  for _ in $(seq 100); do
    line=$(grep -m1 -o "${listening:-listening on} 127\.0\.0\.1:[0-9]*" "$work/$name.out" 2>/dev/null || true)
    if [ -n "$line" ]; then
      port=${line##*:}
      return 0
    fi
    kill -0 "$pid" 2>/dev/null || fail "$name ended before it listened"
    sleep 0.1
  done
  fail "$name did not say where it listens within 10 s"
}
