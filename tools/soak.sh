#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Leaves the client polling the emulator at 0.01 s for a while (default ten
# minutes) while the emulator misbehaves at random from a fixed seed, then
# judges what the run left behind.
#
#   tools/soak.sh [seconds]
#
# BUILD_DIR names an already configured build folder to use instead of build/
# (which tools/build.sh configures and builds). The run folder is kept when a
# check fails, or always with SOAK_KEEP=1.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 [seconds]" >&2
  exit 2
fi

readonly chaos_seed=7
readonly stall_seconds=5
readonly start_timeout_s=10
# A driver that has not finished this long after its run ended has hung.
readonly hang_slack_s=120

if [[ -n ${BUILD_DIR:-} ]]; then
  build=$BUILD_DIR
  cmake --build "$build" --target lumora-soak lumora-7150r-unit -j 2
else
  build=build
  tools/build.sh
fi
unit_program=$build/lumora-7150r-unit
driver_program=$build/lumora-soak

run=$(mktemp -d "${TMPDIR:-/tmp}/lumora-soak.XXXXXX")
unit_pid=
cleanup() {
  if [[ -n $unit_pid ]] && kill -0 "$unit_pid" 2>/dev/null; then
    kill "$unit_pid"
    wait "$unit_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT

# Port 0: the emulator takes a free port itself and names it on its first line.
"$unit_program" --quiet --chaos "$chaos_seed" --listen 127.0.0.1:0 >"$run/unit.txt" 2>&1 &
unit_pid=$!
port=
for ((i = 0; i < start_timeout_s * 10; ++i)); do
  port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9][0-9]*\).*/\1/p' "$run/unit.txt" | head -n 1)
  [[ -n $port ]] && break
  kill -0 "$unit_pid" 2>/dev/null || break
  sleep 0.1
done
if [[ -z $port ]]; then
  echo "soak: the emulator did not start:" >&2
  cat "$run/unit.txt" >&2
  exit 1
fi

echo "soak: ${seconds} s against the emulator on 127.0.0.1:${port} (chaos seed ${chaos_seed}), run folder ${run}"
mkdir -m 700 "$run/runtime"
set +e
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$run/runtime" XDG_CONFIG_HOME="$run/config" \
  timeout "$((seconds + hang_slack_s))" "$driver_program" --dir "$run/program" --port "$port" \
  --seconds "$seconds" --stall-seconds "$stall_seconds" >"$run/summary.txt" 2>"$run/driver-stderr.txt"
driver_rc=$?
set -e
cleanup
unit_pid=

set +e
python3 - "$run" "$driver_rc" "$stall_seconds" <<'PY'
import collections
import glob
import os
import re
import sys

run, driver_rc, stall_seconds = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
program = os.path.join(run, "program")
settled_second = 30
rss_growth_limit_kib = 1024
day_ms = 24 * 3600 * 1000

header_re = re.compile(r"^\[(\d\d):(\d\d):(\d\d)\.(\d\d\d)\] RECV : Status Request \(112 Bytes\)$")
dump_res = [re.compile(r"^(?:[0-9A-F]{2} ){%d}$" % n) for n in (30, 30, 30, 22)]
stamp_re = re.compile(r"^\[(\d\d):(\d\d):(\d\d)\.(\d\d\d)\]")

failures = []
def check(ok, what):
    print(("  ok    " if ok else "  FAIL  ") + what)
    if not ok:
        failures.append(what)

def stamp_ms(text):
    m = stamp_re.match(text)
    if not m:
        return None
    h, mi, s, ms = map(int, m.groups())
    return ((h * 60 + mi) * 60 + s) * 1000 + ms

def read_lines(path):
    try:
        with open(path, encoding="utf-8") as f:
            return f.read().split("\n")[:-1]
    except OSError:
        return []

summary = {}
for line in read_lines(os.path.join(run, "summary.txt")):
    key, sep, value = line.partition(": ")
    if sep:
        summary[key] = value

lines = read_lines(os.path.join(program, "lines.txt"))
events = [e.split("\t") for e in read_lines(os.path.join(program, "events.txt"))]
stalls = [e for e in events if e[0] == "stall"]
interventions = [int(e[2]) for e in events if e[0] == "intervention"]
end = next((e for e in events if e[0] == "end"), None)

# Blocks as the list showed them: a header and the five lines after it.
def blocks_in(seq, strict):
    found = collections.Counter()
    bad = []
    i = 0
    while i < len(seq):
        if header_re.match(seq[i]):
            body = seq[i + 1:i + 6]
            ok = (len(body) == 5 and all(r.match(l) for r, l in zip(dump_res, body[:4])) and body[4] == "")
            if ok:
                found[tuple(seq[i:i + 5])] += 1
                i += 6
                continue
            bad.append(i)
        elif strict:
            bad.append(i)
            i += 1
            continue
        i += 1
    return found, bad

print("checks:")
check(driver_rc == 0, "the driver ran to the end and exited 0 (exit status %d)" % driver_rc)

rss = []
try:
    with open(os.path.join(program, "rss.csv")) as f:
        next(f)
        rss = [(int(r.split(",")[0]), int(r.split(",")[1])) for r in f if r.strip()]
except (OSError, StopIteration, ValueError):
    pass
settled = next((kib for sec, kib in rss if sec >= min(settled_second, rss[-1][0])), None) if rss else None
if settled is not None:
    growth = rss[-1][1] - settled
    check(growth < rss_growth_limit_kib,
          "memory flat: RSS %d KiB at %d s, %d KiB at the end (growth %d KiB, limit %d)"
          % (settled, min(settled_second, rss[-1][0]), rss[-1][1], growth, rss_growth_limit_kib))
else:
    check(False, "memory flat: no RSS samples")

log_dir = os.path.join(program, "Log")
entries = sorted(os.listdir(log_dir)) if os.path.isdir(log_dir) else []
strays = [e for e in entries if not re.fullmatch(r"\d{8}\.txt", e)]
check(not strays, "the Log folder holds daily files only" + (" (also: %s)" % ", ".join(strays) if strays else ""))
filed = collections.Counter()
for name in entries:
    if name in strays:
        continue
    with open(os.path.join(log_dir, name), "rb") as f:
        data = f.read()
    problems = []
    if data and not data.endswith(b"\r\n"):
        problems.append("does not end with CR LF")
    parts = data.split(b"\r\n")[:-1] if data.endswith(b"\r\n") else data.split(b"\r\n")
    if any(b"\r" in p or b"\n" in p for p in parts):
        problems.append("has a bare CR or LF")
    try:
        text = [p.decode("ascii") for p in parts]
    except UnicodeDecodeError:
        text = []
        problems.append("is not ASCII")
    found, bad = blocks_in(text, strict=True)
    if bad:
        problems.append("%d lines outside complete blocks, first at line %d: %r"
                        % (len(bad), bad[0] + 1, text[bad[0]]))
    if len(text) != 6 * sum(found.values()):
        problems.append("%d lines for %d blocks" % (len(text), sum(found.values())))
    check(not problems, "%s: %d complete blocks, CR LF, nothing else%s"
          % (name, sum(found.values()), "" if not problems else " - " + "; ".join(problems)))
    filed += found
check(len(entries) > len(strays), "a daily file was written")
read_back = summary.get("blocks read back from the daily files")
damaged = summary.get("damaged stretches in the daily files")
check(read_back == str(sum(filed.values())) and damaged == "0",
      "the client's own block reader finds the same %d blocks and no damage (%s blocks, %s damaged%s)"
      % (sum(filed.values()), read_back, damaged,
         "" if damaged == "0" else "; " + summary.get("first damage", "?")))

shown, _ = blocks_in(lines, strict=False)
unshown = filed - shown
check(not unshown, "every filed block was shown in the list (%d filed, %d shown)"
      % (sum(filed.values()), sum(shown.values())) +
      ("" if not unshown else "; first not shown: %r" % (next(iter(unshown))[0],)))
unfiled = shown - filed
check(not unfiled, "every block shown in the list was filed" +
      ("" if not unfiled else " (%d not filed, first: %r)" % (sum(unfiled.values()), next(iter(unfiled))[0])))

closes = [i for i, l in enumerate(lines) if l.endswith(" Socket Closed!!")]
connects = [i for i, l in enumerate(lines) if l.endswith(" Socket Connected!!")]
by_client, by_operator, unrecovered, at_end = [], [], [], []
end_ms = stamp_ms(end[3]) if end and len(end) > 3 else None
for i in closes:
    j = next((c for c in connects if c > i), None)
    if j is not None:
        (by_operator if any(i < n <= j for n in interventions) else by_client).append(i)
        continue
    t = stamp_ms(lines[i])
    if end_ms is not None and t is not None and (end_ms - t) % day_ms <= stall_seconds * 1000:
        at_end.append(i)
    else:
        unrecovered.append(i)
check(not by_operator and not unrecovered,
      "the client reconnected by itself after every close (%d closes: %d by itself, %d only after the driver "
      "clicked Connect, %d never, %d in the run's last %d s)"
      % (len(closes), len(by_client), len(by_operator), len(unrecovered), len(at_end), stall_seconds))

unit = read_lines(os.path.join(run, "unit.txt"))
chaos = collections.Counter()
for l in unit:
    for kind, key in (("closing instead", "close"), ("unanswered", "no reply"), ("splitting", "split"),
                      ("replying with", "wrong length")):
        if kind in l:
            chaos[key] += 1

# A request the unit never answers holds repeated sending until data comes
# or the operator clicks End and Send (the driver does that after a while);
# any other stall, above all one after a close, is a fault.
closed_stalls = sum("closed" in s[3] for s in stalls)
waiting_stalls = sum("connected" in s[3] for s in stalls)
check(closed_stalls == 0 and waiting_stalls <= chaos["no reply"],
      "the repetition stalled only on unanswered requests (%d stalls while connected, %d requests left "
      "unanswered by the unit, %d stalls after a close)" % (waiting_stalls, chaos["no reply"], closed_stalls))

print("figures:")
print("  seconds run:                 %s" % summary.get("seconds run", "-"))
print("  requests sent (SEND lines):  %s" % summary.get("sends", "-"))
print("  replies shown / filed:       %d / %d" % (sum(shown.values()), sum(filed.values())))
print("  wrong-length lines:          %d" % sum(l.startswith("Different responce data length : ") for l in lines))
print("  closes / connects:           %d / %d" % (len(closes), len(connects)))
print("  reconnecting lines:          %d" % sum(l.endswith(" Socket Reconnecting.......") for l in lines))
print("  send fail lines:             %d" % sum(l.endswith(" Socket Closed... Send Fail!!") for l in lines))
print("  stalls / driver restarts:    %d / %s" % (len(stalls), summary.get("interventions", "-")))
print("  boxes shown:                 %s" % summary.get("boxes shown", "-"))
print("  RSS start / at %d s / end:   %s / %s / %s KiB" % (settled_second, summary.get("rss start kib", "-"),
      summary.get("rss at 30 s kib", "-"), summary.get("rss end kib", "-")))
print("  emulator misbehaved:         %s" % ", ".join("%s %d" % kv for kv in sorted(chaos.items())))
if stalls:
    first = events.index(stalls[0])
    print("first stall (%s s into the run, after list line %s): %s" % (stalls[0][1], stalls[0][2], stalls[0][3]))
    for e in events[first + 1:]:
        if not e[0].startswith("  | "):
            break
        print("  " + e[0])
sys.exit(1 if failures else 0)
PY
verdict=$?
set -e
if ((verdict != 0)) || [[ -n ${SOAK_KEEP:-} ]]; then
  echo "soak: run folder kept: ${run}"
else
  rm -rf "$run"
fi
if ((verdict != 0)); then
  echo "soak: FAILED"
  exit 1
fi
echo "soak: passed"
