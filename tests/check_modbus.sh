#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# `lumora-7150r-cli serve --modbus` read and written by Debian's Modbus
# clients while it polls emulated units: mbpoll (libmodbus) reads discrete
# inputs, coils, input and holding registers of several unit identifiers and
# they match what `status` reads of the same unit; a coil write is refused
# without --modbus-writes and reaches the unit with it; pymodbus gets each
# exception code where it is due; past 247 units serve says which it serves.
# Run it in a network of its own (tests/own_network.sh): fixed loopback ports.
#   check_modbus.sh CLI EMULATOR
# Exits 77 (a skip to CTest) only when a client is missing.
set -euo pipefail

cli=$1
emulator=$2
# Debian's pymodbus, whatever python3 comes first on the path.
python=/usr/bin/python3

. "$(dirname "$0")/check_support.sh"
need mbpoll
if ! "$python" -c 'import pymodbus.client' 2>/dev/null; then
  echo "SKIPPED: pymodbus is not installed (tools/install-deps.sh installs python3-pymodbus)"
  exit 77
fi

# serve NAME ARGS...: starts serve with Modbus TCP on a free port and sets
# `mport` to it once it serves.
serve() {
  local name=$1
  shift
  listening='Modbus TCP listening on' start_listening "$name" \
    "$cli" serve --listen 127.0.0.1:0 --modbus 127.0.0.1:0 --interval 0.5 "$@"
  serve_pid=$pid
  mport=$port
}

# Units a, b and c on ports 24000 to 24002, their outputs set apart; d is
# never there. b comes from the units file, so it is identifier 1. Outputs 01
# and 02 drive inputs 00 to 05, which then hold still; the others toggle.
"$emulator" --listen 127.0.0.1:24000 --units 3 --quiet --wire 01=00+02+04,02=01+03+05 >"$work/units.log" 2>&1 &
pids+=("$!")
declare -A unit_port=([a]=24000 [b]=24001 [c]=24002)
declare -A id=([b]=1 [a]=2 [c]=3)
declare -A outputs=([a]="1 0 0 1" [b]="0 1 1 0" [c]="1 1 0 1")
for unit in a b c; do
  for _ in $(seq 50); do
    # shellcheck disable=SC2086 # four separate values
    "$cli" --address 127.0.0.1 --port "${unit_port[$unit]}" outputs ${outputs[$unit]} >/dev/null 2>&1 && break
    sleep 0.1
  done
done
echo "b=127.0.0.1:24001" >"$work/units"
units=(--units-file "$work/units" a=127.0.0.1:24000 c=127.0.0.1:24002 d=127.0.0.1:24009)
serve reading "${units[@]}"
sleep 1.5

# Each unit read over Modbus between two readings of status: where a channel
# shows the same level and count in both, Modbus must show exactly that, and
# every counter lies between the two.
for unit in a b c; do
  "$python" - "$cli" "${unit_port[$unit]}" "$mport" "${id[$unit]}" "${outputs[$unit]}" <<'PY' ||
import re, subprocess, sys, time

cli, port, mport, uid, outputs = sys.argv[1:]

def mbpoll(*args):
    out = subprocess.run(["mbpoll", "-m", "tcp", "-p", mport, "-a", uid, "-0", "-1", "-o", "2", *args, "127.0.0.1"],
                         capture_output=True, text=True)
    values = re.findall(r"^\[\d+\]:\s+(\S+)", out.stdout, re.M)
    if out.returncode != 0 or not values:
        sys.exit(f"mbpoll {' '.join(args)}: {out.stdout[-300:]} {out.stderr}")
    return [int(v, 0) for v in values]

def status():
    out = subprocess.run([cli, "--address", "127.0.0.1", "--port", port, "status"],
                         check=True, capture_output=True, text=True).stdout
    fields = {line.split(":")[0]: line.split(":", 1)[1].split() for line in out.splitlines()}
    return ([int(v) for v in fields["inputs 00..11"]], [int(v) for v in fields["counters CH01..CH12"]],
            fields["time gaps CH01..CH12"], [int(v) for v in fields["outputs 01..04"]])

still = 0
for attempt in range(10):
    before = status()
    time.sleep(1.2)  # past the next poll
    bits = mbpoll("-t", "1", "-r", "0", "-c", "12")
    counters = mbpoll("-t", "3:int", "-B", "-r", "0", "-c", "12")
    held = mbpoll("-t", "4:int", "-B", "-r", "0", "-c", "12")
    gaps = mbpoll("-t", "3:int", "-B", "-r", "24", "-c", "12")
    raw = mbpoll("-t", "3", "-r", "48", "-c", "16")
    coils = mbpoll("-t", "0", "-r", "0", "-c", "4")
    after = status()
    want = [int(v) for v in outputs.split()]
    if coils != want or raw[12:] != want or after[3] != want:
        sys.exit(f"outputs: coils {coils}, registers {raw[12:]}, status {after[3]}, set {want}")
    for k in range(12):
        if not before[1][k] <= counters[k] <= after[1][k]:
            sys.exit(f"counter {k + 1:02}: Modbus {counters[k]}, status {before[1][k]} then {after[1][k]}")
        if before[0][k] != after[0][k] or before[1][k] != after[1][k] or held[k] != counters[k]:
            continue
        still += 1
        gap = (gaps[k] + 5) // 10
        got = (bits[k], raw[k], counters[k], f"{gap // 100}.{gap % 100:02}")
        expect = (int(after[0][k] == 1), after[0][k], after[1][k], after[2][k])
        if got != expect:
            sys.exit(f"channel {k:02}: Modbus {got}, status {expect}")
    if still >= 6:
        break
print(f"unit {uid}: {still} channels held still and matched status exactly")
sys.exit(0 if still >= 6 else 1)
PY
    fail "unit $unit (identifier ${id[$unit]}) over Modbus differs from status"
done

# Without --modbus-writes a coil write is refused and nothing reaches the unit.
if mbpoll -m tcp -p "$mport" -a 2 -0 -1 -t 0 -r 2 127.0.0.1 1 >"$work/refused.out" 2>&1; then
  fail "a coil write went through without --modbus-writes"
fi
grep -q "Illegal function" "$work/refused.out" || fail "write without --modbus-writes: $(cat "$work/refused.out")"
outputs_of_a() { "$cli" --address 127.0.0.1 --port 24000 status | sed -n 's/^outputs 01..04: //p'; }
[ "$(outputs_of_a)" = "1 0 0 1" ] || fail "outputs of a changed without --modbus-writes: $(outputs_of_a)"
echo "coil write without --modbus-writes: illegal function, outputs of a unchanged"

serve writing --modbus-writes "${units[@]}"
sleep 1.5
mbpoll -m tcp -p "$mport" -a 2 -0 -1 -t 0 -r 2 127.0.0.1 1 >"$work/single.out" 2>&1 ||
  fail "single coil write: $(cat "$work/single.out")"
sleep 1
mbpoll -m tcp -p "$mport" -a 2 -0 -1 -t 0 -r 0 127.0.0.1 0 1 >"$work/multiple.out" 2>&1 ||
  fail "multiple coil write: $(cat "$work/multiple.out")"
[ "$(outputs_of_a)" = "0 1 1 1" ] || fail "outputs of a after the writes: $(outputs_of_a), not 0 1 1 1"
echo "coil writes with --modbus-writes: status of a shows 0 1 1 1"

"$python" - "$mport" <<'PY' || fail "pymodbus got the wrong exception codes"
import sys
from pymodbus.client import ModbusTcpClient

client = ModbusTcpClient("127.0.0.1", port=int(sys.argv[1]), timeout=2, retries=0)
client.connect()
checks = [
    ("unit 0", lambda: client.read_input_registers(0, 1, slave=0), 0x0A),
    ("unit 5, past the list", lambda: client.read_input_registers(0, 1, slave=5), 0x0A),
    ("unit 4, down", lambda: client.read_input_registers(0, 1, slave=4), 0x0B),
    ("coil write to unit 4, down", lambda: client.write_coil(0, True, slave=4), 0x0B),
    ("register 64", lambda: client.read_input_registers(64, 1, slave=1), 0x02),
    ("coil 4", lambda: client.write_coil(4, True, slave=1), 0x02),
    ("126 registers", lambda: client.read_holding_registers(0, 126, slave=1), 0x03),
    ("register write", lambda: client.write_register(0, 1, slave=1), 0x01),
]
wrong = 0
for name, ask, code in checks:
    got = getattr(ask(), "exception_code", None)
    print(f"{name}: exception {got}, due {code}")
    wrong += got != code
sys.exit(1 if wrong else 0)
PY

# After SIGHUP the identifiers follow the new list: without b, a is 1.
coils() { mbpoll -m tcp -p "$mport" -a "$1" -0 -1 -t 0 -r 0 -c 4 127.0.0.1 | sed -n 's/^\[[0-9]*\]:[[:space:]]*//p' | xargs; }
[ "$(coils 1)" = "0 1 1 0" ] || fail "coils of identifier 1 (b) before SIGHUP: $(coils 1)"
echo "# b left" >"$work/units"
kill -HUP "$serve_pid"
for _ in $(seq 50); do
  grep -q '^reloaded' "$work/writing.out" && break
  sleep 0.1
done
sleep 1.5
[ "$(coils 1)" = "0 1 1 1" ] || fail "coils of identifier 1 (a) after SIGHUP: $(coils 1), not 0 1 1 1"
echo "after SIGHUP identifier 1 is a"

# Past 247 units, serve says which units have an identifier.
seq 25000 25247 | sed 's/^/127.0.0.1:/' >"$work/many"
"$cli" serve --listen 127.0.0.1:0 --modbus 127.0.0.1:0 --units-file "$work/many" >"$work/many.out" 2>"$work/many.log" &
pids+=("$!")
note="lumora-7150r-cli: Modbus TCP serves units 1 to 247 of 248; unit identifiers end at 247"
for _ in $(seq 50); do
  grep -qxF "$note" "$work/many.log" && break
  sleep 0.1
done
grep -qxF "$note" "$work/many.log" || fail "no note of the units past 247 on standard error"
echo "modbus: ok"
