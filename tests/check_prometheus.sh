#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A real Prometheus scraping `lumora-7150r-cli serve` every second while the
# exporter polls three emulated units, each a process of its own: every unit
# up, inputs, counters and outputs as `status` reads them, counters counting,
# and a unit that stops turning down within 30 s while the others stay up.
# promtool accepts the scrape, and SIGTERM ends the exporter with status 0. Run it in a network of its own
# (tests/own_network.sh): everything listens on free loopback ports.
#   check_prometheus.sh CLI EMULATOR
# Exits 77 (a skip to CTest) only when a Prometheus tool is missing.
set -euo pipefail

cli=$1
emulator=$2

. "$(dirname "$0")/check_support.sh"
need prometheus promtool:prometheus curl python3

# Until the command has `serve`, there is nothing to scrape.
help=$("$cli" --help 2>/dev/null || true)
if ! grep -qw serve <<<"$help"; then
  echo "SKIPPED: $cli has no serve command"
  exit 77
fi

# Three units with their own input patterns, and their outputs set apart, so
# that one unit's values cannot pass for another's.
declare -A unit_port unit_pid
units=(a b c)
declare -A unit_outputs=([a]="1 0 0 1" [b]="0 1 1 0" [c]="1 1 0 1")
seed=11
for unit in "${units[@]}"; do
  start_listening "unit-$unit" "$emulator" --listen 127.0.0.1:0 --seed "$seed" --quiet
  unit_port[$unit]=$port
  unit_pid[$unit]=$pid
  seed=$((seed + 1))
  # shellcheck disable=SC2086 # four separate values
  "$cli" --address 127.0.0.1 --port "$port" outputs ${unit_outputs[$unit]} ||
    fail "cannot set the outputs of unit $unit"
done

start_listening exporter "$cli" serve --listen 127.0.0.1:0 --interval 1 \
  "a=127.0.0.1:${unit_port[a]}" "b=127.0.0.1:${unit_port[b]}" "c=127.0.0.1:${unit_port[c]}"
exporter=127.0.0.1:$port
exporter_pid=$pid

# Prometheus cannot tell which port it was given, so it gets one that was
# free a moment ago.
prometheus_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
api=http://127.0.0.1:$prometheus_port/api/v1
cat >"$work/prometheus.yml" <<EOF
global:
  scrape_interval: 1s
  scrape_timeout: 1s
  evaluation_interval: 1s
scrape_configs:
  - job_name: lumora-7150r
    static_configs:
      - targets: ['$exporter']
EOF
start_prometheus() {
  prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/data" \
    --web.listen-address="127.0.0.1:$prometheus_port" --log.level=warn >"$work/prometheus.log" 2>&1 &
  pids+=("$!")
}
start_prometheus
for _ in $(seq 100); do
  curl -sf "http://127.0.0.1:$prometheus_port/-/ready" >/dev/null && break
  sleep 0.1
done
curl -sf "http://127.0.0.1:$prometheus_port/-/ready" >/dev/null || fail "prometheus not ready within 10 s"

# query PROMQL: the instant vector as lines "unit channel value", sorted.
query() {
  curl -sf "$api/query" --data-urlencode "query=$1" | python3 -c '
import json, sys
answer = json.load(sys.stdin)
if answer["status"] != "success":
    sys.exit("query failed: " + json.dumps(answer))
for series in answer["data"]["result"]:
    labels = series["metric"]
    print(labels.get("unit", "-"), labels.get("channel", "-"), series["value"][1])
' | sort
}

all_up() { [ "$(query 'lumora_unit_up')" = "$(printf 'a - 1\nb - 1\nc - 1')" ]; }
# Prometheus takes some seconds to set up a new target before its first scrape.
until_within 30 all_up || fail "lumora_unit_up is not 1 for a, b and c within 30 s: $(query lumora_unit_up)"
echo "lumora_unit_up is 1 for a, b and c"

# Prometheus' own checker of the text format; it says 3 for lint problems
# (a metric name with a type word in it, a counter without _total).
curl -sf "http://$exporter/metrics" >"$work/scrape.txt" || fail "cannot fetch http://$exporter/metrics"
promtool check metrics <"$work/scrape.txt" || fail "promtool check metrics: exit $?"
echo "promtool check metrics accepts the scrape ($(wc -l <"$work/scrape.txt") lines)"

# The outputs hold still: they must be exactly what status reads.
for unit in "${units[@]}"; do
  read -ra expected <<<"${unit_outputs[$unit]}"
  want=$(for ch in 1 2 3 4; do echo "$unit 0$ch ${expected[ch - 1]}"; done)
  got=$(query "lumora_output{unit=\"$unit\"}")
  [ "$got" = "$want" ] || fail "lumora_output of $unit:"$'\n'"$got"$'\n'"status set:"$'\n'"$want"
done
echo "outputs of a, b and c as set"

# The inputs and counters of each unit against status, read by the test over
# the same seconds.
for unit in "${units[@]}"; do
  python3 - "$cli" "${unit_port[$unit]}" "$unit" "$api" <<'PY' || fail "inputs and counters of $unit differ from status"
import json, subprocess, sys, time, urllib.parse, urllib.request

cli, port, unit, api = sys.argv[1:]

# The emulated inputs toggle every 50 ms to 2 s, so no single reading of
# status can be set beside one of the exporter's: the two are different
# requests at different moments. The comparison is exact all the same.
# status is read about ten times a second for a few seconds. For each reply
# the exporter got (its moment is lumora_last_reply_timestamp_seconds, stored
# with every scrape), take the status readings just before and just after
# it. Where a channel shows the same level and the same count in both, the
# input did not move in between (a toggle away and back takes a rise, which
# counts), so the exporter must show that level and count exactly. Where it
# moved, the exporter's count lies between the two. MARGIN covers the time
# from the exporter's request to its reply, in which the unit may have
# answered.
MARGIN = 0.25

def status():
    before = time.time()
    out = subprocess.run([cli, "--address", "127.0.0.1", "--port", port, "--timeout", "2", "status"],
                         check=True, capture_output=True, text=True).stdout
    after = time.time()
    fields = {line.split(":")[0]: line.split(":", 1)[1].split() for line in out.splitlines()}
    return before, after, fields["inputs 00..11"], [int(n) for n in fields["counters CH01..CH12"]]

readings = []
start = time.time()
while time.time() - start < 6:
    readings.append(status())
    time.sleep(0.05)

def series(promql):
    url = api + "/query?" + urllib.parse.urlencode({"query": promql})
    answer = json.load(urllib.request.urlopen(url, timeout=5))
    return answer["data"]["result"]

# Until Prometheus holds a reply from after the last reading, and so every
# reply of those seconds before it (it scrapes in order).
def scraped_past(moment):
    return any(float(s["value"][1]) >= moment
               for s in series(f'lumora_last_reply_timestamp_seconds{{unit="{unit}"}}'))

deadline = time.time() + 10
while not scraped_past(readings[-1][1]) and time.time() < deadline:
    time.sleep(0.1)

window = f"[{int(time.time() - start) + 2}s]"
moments = {}  # scrape time -> reply time
for s in series(f'lumora_last_reply_timestamp_seconds{{unit="{unit}"}}{window}'):
    for at, value in s["values"]:
        moments[at] = float(value)
inputs, counts = {}, {}  # scrape time -> {channel index: value}
for s in series(f'lumora_input{{unit="{unit}"}}{window}'):
    k = int(s["metric"]["channel"])  # "00".."11"
    for at, value in s["values"]:
        inputs.setdefault(at, {})[k] = value
for s in series(f'lumora_input_pulses_total{{unit="{unit}"}}{window}'):
    k = int(s["metric"]["channel"]) - 1  # "01".."12": the counter of input k
    for at, value in s["values"]:
        counts.setdefault(at, {})[k] = int(float(value))

compared, exact, wrong = set(), 0, []
for at, moment in sorted(moments.items()):
    if moment in compared or len(inputs.get(at, {})) != 12 or len(counts.get(at, {})) != 12:
        continue
    before = [r for r in readings if r[1] <= moment - MARGIN]
    after = [r for r in readings if r[0] >= moment + MARGIN]
    if not before or not after:
        continue
    compared.add(moment)
    b, a = before[-1], after[0]
    for k in range(12):
        got_input, got_count = inputs[at][k], counts[at][k]
        if b[2][k] == a[2][k] and b[3][k] == a[3][k]:
            exact += 1
            if (got_input, got_count) != (b[2][k], b[3][k]):
                wrong.append(f"input {k:02} at {moment:.3f}: exporter {got_input}, {got_count} pulses; "
                             f"status {b[2][k]}, {b[3][k]} pulses from {b[1]:.3f} to {a[0]:.3f}")
        elif not b[3][k] <= got_count <= a[3][k]:
            wrong.append(f"counter {k + 1:02} at {moment:.3f}: exporter {got_count}, "
                         f"status {b[3][k]} at {b[1]:.3f} and {a[3][k]} at {a[0]:.3f}")
print(f"{unit}: {len(compared)} exporter replies against {len(readings)} status readings, "
      f"{exact} channels held still and matched exactly")
for line in wrong:
    print("  " + line)
# Two replies at least, and enough channels held still to mean something.
sys.exit(1 if wrong or len(compared) < 2 or exact < 8 else 0)
PY
done

# Every emulated input toggles at least every 2 s, so every counter rises
# within any 10 s: a rate for each of the 36.
counting() { [ "$(query 'count(rate(lumora_input_pulses_total[10s]) > 0)')" = "- - 36" ]; }
until_within 20 counting ||
  fail "rate(lumora_input_pulses_total[10s]) > 0 for only:"$'\n'"$(query 'rate(lumora_input_pulses_total[10s]) > 0')"
echo "rate(lumora_input_pulses_total[10s]) > 0 for all 12 counters of a, b and c"

# Unit b stops. Its up turns 0 within 30 s; a and c stay 1 at every look.
kill "${unit_pid[b]}"
wait "${unit_pid[b]}" 2>/dev/null || true
b_down() {
  local now
  now=$(query 'lumora_unit_up')
  if ! grep -qx 'a - 1' <<<"$now" || ! grep -qx 'c - 1' <<<"$now"; then
    fail "a or c went down with b:"$'\n'"$now"
  fi
  grep -qx 'b - 0' <<<"$now"
}
until_within 30 b_down || fail "lumora_unit_up of b is not 0 within 30 s: $(query lumora_unit_up)"
echo "b down within 30 s, a and c up"
# A unit that is down shows no values, stale or made up.
curl -sf "http://$exporter/metrics" >"$work/scrape.txt"
stale=$(grep -E '^lumora_(input|output|input_pulses_total|time_gap_seconds)\{[^}]*unit="b"' "$work/scrape.txt" || true)
[ -z "$stale" ] || fail "the scrape still holds values of b:"$'\n'"$(head -n 3 <<<"$stale")"
promtool check metrics <"$work/scrape.txt" || fail "promtool check metrics with b down: exit $?"

# SIGTERM is how a service manager stops it: a clean end, status 0.
kill -TERM "$exporter_pid"
ended=0
wait "$exporter_pid" || ended=$?
[ "$ended" -eq 0 ] || fail "serve ended with status $ended on SIGTERM"
echo "prometheus scrape: ok"
