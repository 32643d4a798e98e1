#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Reads the VCD the command line writes for tests/vcd/20261207.txt with a
# waveform reader from Debian and compares what the reader saw with what the
# file holds, written down by hand. The viewer's export of the same file must
# be the same bytes.
#   check_vcd_readers.sh sigrok|vcd2fst CLI VIEW
# Exits 77 (a skip to CTest) only when the reader is missing.
set -euo pipefail

reader=$1
cli=$2
view=$3
here=$(cd "$(dirname "$0")" && pwd)

need() {
  command -v "$1" >/dev/null ||
    { echo "SKIPPED: $1 is not installed (tools/install-deps.sh installs $2)"; exit 77; }
}
case $reader in
  sigrok) need sigrok-cli sigrok-cli ;;
  vcd2fst) need vcd2fst gtkwave; need fst2vcd gtkwave ;;
  *) echo "unknown reader: $reader" >&2; exit 2 ;;
esac

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
TZ=UTC "$cli" decode --vcd "$here/vcd/20261207.txt" > "$work/day.vcd"
XDG_RUNTIME_DIR=$work TZ=UTC "$view" "$here/vcd/20261207.txt" --export "$work/view.vcd"
cmp "$work/day.vcd" "$work/view.vcd"

case $reader in
  sigrok)
    # Its VCD input takes single-bit wires only (no vectors, integers or
    # reals, as its documentation says): it skips the real variables, and
    # stops at the first vector value or at a comment among the values. So
    # it gets the counters' and comments' lines taken out; everything else
    # is what the command line wrote.
    sigrok-cli -I vcd -i "$work/day.vcd" --show 2>/dev/null | grep '^- ' > "$work/channels"
    diff -u - "$work/channels" <<'END'
- DI00: logic
- DI01: logic
- DI02: logic
- DI03: logic
- DI04: logic
- DI05: logic
- DI06: logic
- DI07: logic
- DI08: logic
- DI09: logic
- DI10: logic
- DI11: logic
- DO01: logic
- DO02: logic
- DO03: logic
- DO04: logic
END
    grep -v '^b\|^\$comment' "$work/day.vcd" > "$work/wires.vcd"
    # One sample a microsecond, x and z read as 0; the last change has no
    # length, so no sample.
    sigrok-cli -I vcd -i "$work/wires.vcd" -O csv 2>/dev/null | grep -v '^;\|^META\|^logic' | uniq -c |
      sed 's/^ *//' > "$work/samples"
    diff -u - "$work/samples" <<'END'
1500000 1,0,0,0,0,0,0,0,0,0,0,0,1,0,0,0
500000 0,0,1,0,0,0,0,0,0,0,0,0,0,0,0,0
END
    ;;
  vcd2fst)
    # Into its own binary format and back: every variable and value change
    # must come through.
    vcd2fst "$work/day.vcd" "$work/day.fst" > "$work/said" 2>&1 || { cat "$work/said"; exit 1; }
    fst2vcd "$work/day.fst" > "$work/back.vcd"
    diff -u "$here/vcd/20261207.fst2vcd.txt" "$work/back.vcd"
    ;;
esac
echo "$reader read it as expected"
