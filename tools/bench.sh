#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the benchmarks in Release (build-bench/), runs every one of them and
# prints one table: figure, measured, floor, ratio, target, met?
# POLL_SECONDS (default 20) sets the length of each polling run, EXPORTER_SECONDS
# (default 60) that of the exporter's.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMORA_BUILD_BENCH=ON >&2
cmake --build build-bench -j 2 --target lumora-7150r-unit lumora-7150r-sim lumora-7150r-cli lumora-bench-micro \
  lumora-7150r-view lumora-bench-store lumora-bench-exposition \
  lumora-bench-polling lumora-bench-startup lumora-bench-client lumora-bench-bare-window \
  lumora-bench-bare-window-linked lumora-bench-ping \
  lumora-bench-cadence lumora-bench-waveform lumora-make-day-file lumora-bench-reading lumora-bench-decode lumora-bench-exporter lumora-bench-plans >&2

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="$scratch/runtime"
export XDG_CONFIG_HOME="$scratch/config"
mkdir -m 700 -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME"
rows="$scratch/rows"
: >"$rows"

run() {
  local name="$1"
  shift
  echo "== $name" >&2
  # Each driver's own report goes to stderr; its table rows are kept.
  if ! "$@" | tee -a "$scratch/$name.out" | grep '^ROW|' >>"$rows"; then
    echo "ROW|$name|failed|-|-|-|NO" >>"$rows"
  fi
  grep -v '^ROW|' "$scratch/$name.out" >&2 || true
}

bin=build-bench/bench
run micro "$bin/lumora-bench-micro" --benchmark_min_time=0.2
run store "$bin/lumora-bench-store" --benchmark_min_time=0.2
run exposition "$bin/lumora-bench-exposition" --benchmark_min_time=0.2
run polling "$bin/lumora-bench-polling" --seconds "${POLL_SECONDS:-20}"
run startup "$bin/lumora-bench-startup" --runs 9
run ping "$bin/lumora-bench-ping" --ticks 50
run cadence "$bin/lumora-bench-cadence"
run waveform "$bin/lumora-bench-waveform" --paints 15
run plans "$bin/lumora-bench-plans"
# 1,000 emulated units polled by one exporter at 1 s, scraped once a second,
# then scraped while clients that misbehave hold connections to it.
run exporter "$bin/lumora-bench-exporter" --units 1000 --seconds "${EXPORTER_SECONDS:-60}" \
  --hostile tools/hostile-http.py
# The same with all three fronts: Modbus TCP read, MQTT to a broker of its own.
run exporter-gateway "$bin/lumora-bench-exporter" --units 1000 --seconds "${EXPORTER_SECONDS:-60}" --gateway
# And with units that change as a test station's do.
run exporter-station "$bin/lumora-bench-exporter" --units 1000 --seconds "${EXPORTER_SECONDS:-60}" --gateway --station
# A 1 GiB day file of the emulator's gentle input pattern at 1 ms polling,
# and one as busy as a bench gets, every value changing at every reply: each
# read back by a fresh process for each figure, and decoded, then removed.
days="$scratch/days"
mkdir -p "$days/gentle" "$days/busy"
"$bin/lumora-make-day-file" "$days/gentle/20261207.txt" --size $((1 << 30)) >&2
"$bin/lumora-make-day-file" "$days/busy/20261207.txt" --size $((1 << 30)) --busy >&2
run reading-throughput "$bin/lumora-bench-reading" --throughput "$days/gentle/20261207.txt"
for kind in gentle busy; do
  for figure in memory picture; do
    run "reading-$kind-$figure" "$bin/lumora-bench-reading" "--$figure" "$days/$kind/20261207.txt" "$kind"
  done
done
run decode "$bin/lumora-bench-decode" "gentle=$days/gentle/20261207.txt" "busy=$days/busy/20261207.txt"
# A script's measurements of each whole day, from the start of the program
# to its last line of JSON (thrown away).
for kind in gentle busy; do
  TIMEFORMAT=%R
  if elapsed=$( { time build-bench/lumora-7150r-view "$days/$kind/20261207.txt" --measure >/dev/null 2>&1; } 2>&1 ); then
    awk -v kind="$kind" -v s="$elapsed" 'BEGIN { printf "ROW|lumora-7150r-view --measure of a 1 GiB %s day file (vs 3 s)|%.2f s|3 s|%.2fx|<= 1.00x|%s\n", kind, s, s / 3, s <= 3 ? "yes" : "NO" }' >>"$rows"
  else
    echo "ROW|lumora-7150r-view --measure of a 1 GiB $kind day file|failed|-|-|-|NO" >>"$rows"
  fi
done
rm -rf "$days"

echo
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(awk '/MemTotal/ {printf "%.1f GiB RAM", $2 / 1048576}' /proc/meminfo)"
echo
{
  echo "| figure | measured | floor | ratio | target | met? |"
  echo "|---|---|---|---|---|---|"
  awk -F'|' '{ printf "| %s | %s | %s | %s | %s | %s |\n", $2, $3, $4, $5, $6, $7 }' "$rows"
}
