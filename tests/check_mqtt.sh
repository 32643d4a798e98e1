#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# `lumora-7150r-cli serve --mqtt` against Debian's broker, watched with
# mosquitto_sub and driven with mosquitto_pub: two emulated units' topics
# retained, an output set through P/NAME/output/NN/set reaching the unit and
# coming back in its reply, P/status "offline" from the will once serve is
# killed with SIGKILL, and from serve itself on SIGTERM (status 0); a broker
# that wants a password let in with the right one only. Run it in
# a network of its own (tests/own_network.sh): everything is on loopback.
#   check_mqtt.sh CLI EMULATOR
# Exits 77 (a skip to CTest) only when a mosquitto program is missing.
set -euo pipefail

cli=$1
emulator=$2
PATH=$PATH:/usr/sbin

. "$(dirname "$0")/check_support.sh"
need mosquitto mosquitto_sub:mosquitto-clients mosquitto_pub:mosquitto-clients mosquitto_passwd python3

broker_port=$(free_port)
printf 'listener %s 127.0.0.1\nallow_anonymous true\n' "$broker_port" >"$work/mosquitto.conf"
mosquitto -c "$work/mosquitto.conf" >"$work/broker.log" 2>&1 &
pids+=("$!")
until_within 10 mosquitto_pub -p "$broker_port" -t probe -n 2>/dev/null || fail "the broker does not answer within 10 s"

# retained TOPIC: the broker's retained payload, or nothing within a second.
retained() {
  mosquitto_sub -p "$broker_port" -t "$1" -C 1 -W 1 2>/dev/null || true
}
is_retained() { [ "$(retained "$1")" = "$2" ]; }

# Two units on consecutive ports; in a network of its own the next port is free.
unit_port=$(free_port)
"$emulator" --listen "127.0.0.1:$unit_port" --units 2 --quiet >"$work/unit.out" 2>"$work/unit.log" &
pids+=("$!")
until_within 10 grep -q 'listening on' "$work/unit.out" || fail "the emulator does not listen within 10 s"

serve() {
  "$cli" serve --listen 127.0.0.1:0 --interval 0.2 --mqtt "127.0.0.1:$broker_port" --mqtt-writes \
    "a=127.0.0.1:$unit_port" "b=127.0.0.1:$((unit_port + 1))" >"$work/serve.out" 2>"$work/serve.log" &
  serve_pid=$!
  pids+=("$serve_pid")
}
serve
until_within 10 is_retained lumora/status online || fail "lumora/status is not online within 10 s"
until_within 10 is_retained lumora/b/status online || fail "lumora/b/status is not online within 10 s"
for topic in a/input/00 a/input/11 a/output/01 a/output/04 a/counter/01 a/counter/12 a/gap/01 b/gap/12; do
  [[ "$(retained "lumora/$topic")" =~ ^[0-9]+(\.[0-9]{3})?$ ]] || fail "lumora/$topic holds '$(retained "lumora/$topic")'"
done
echo "status, inputs, outputs, counters and gaps of a and b retained"

current=$(retained lumora/a/output/02)
want=$((1 - current))
mosquitto_pub -p "$broker_port" -t lumora/a/output/02/set -m "$want"
until_within 10 is_retained lumora/a/output/02 "$want" || fail "lumora/a/output/02 did not turn $want"
echo "a's output 02 set to $want through the broker"

kill -9 "$serve_pid"
wait "$serve_pid" 2>/dev/null || true
until_within 10 is_retained lumora/status offline || fail "lumora/status is not offline after SIGKILL (the will)"
echo "the will: lumora/status offline once serve is killed"

serve
until_within 10 is_retained lumora/status online || fail "lumora/status is not online again"
kill -TERM "$serve_pid"
ended=0
wait "$serve_pid" || ended=$?
[ "$ended" -eq 0 ] || fail "serve ended with status $ended on SIGTERM"
# A clean disconnect drops the will, so the "offline" is serve's own word. The
# broker logs each client's keep-alive: serve's is 30 s, its tools' 60 s.
id=$(grep -o 'as [^ ]* (p2, c1, k30)' "$work/broker.log" | tail -n 1 | cut -d ' ' -f 2)
grep -q "Client $id disconnected\.\$" "$work/broker.log" || fail "serve did not disconnect cleanly on SIGTERM"
is_retained lumora/status offline || fail "lumora/status is not offline after SIGTERM"
# A broker that lets in only "gateway" with its password, on a port of its own.
secure_port=$(free_port)
printf 's3cret pass\n' >"$work/password"
printf 'wrong\n' >"$work/wrong"
: >"$work/users" && mosquitto_passwd -b "$work/users" gateway 's3cret pass'
# As root the broker would drop to its own user, which cannot read this folder.
printf 'listener %s 127.0.0.1\nallow_anonymous false\npassword_file %s\nuser %s\n' "$secure_port" \
  "$work/users" "$(id -un)" >"$work/secure.conf"
mosquitto -c "$work/secure.conf" >"$work/secure.log" 2>&1 &
pids+=("$!")
secure_status() {
  mosquitto_sub -p "$secure_port" -u gateway -P 's3cret pass' -t "$1/status" -C 1 -W 1 2>/dev/null || true
}
for try in wrong password; do
  "$cli" serve --listen 127.0.0.1:0 --mqtt "127.0.0.1:$secure_port" --mqtt-prefix "$try" --mqtt-user gateway \
    --mqtt-password-file "$work/$try" "a=127.0.0.1:$unit_port" >"$work/serve-$try.out" 2>"$work/serve-$try.log" &
  pids+=("$!")
done
is_in() { [ "$(secure_status "$1")" = online ]; }
until_within 10 is_in password || fail "the right password is not let in"
! is_in wrong || fail "a wrong password was let in"
echo "a broker's password: the right one let in, a wrong one not"
echo "mqtt gateway: ok"
