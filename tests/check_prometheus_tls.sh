#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The web config that docs/gateway.md shows: promtool check web-config accepts
# it, and `lumora-7150r-cli serve --web-config` with it answers only HTTPS, and
# only with the password: a real Prometheus scrapes an emulated unit's values
# over it, and the same Prometheus with a wrong password gets nothing. Run it
# in a network of its own (tests/own_network.sh).
#   check_prometheus_tls.sh CLI EMULATOR SOURCE_DIR
# Exits 77 (a skip to CTest) only when a tool is missing.
set -euo pipefail

cli=$1
emulator=$2
doc=$3/docs/gateway.md

. "$(dirname "$0")/check_support.sh"
need prometheus promtool:prometheus curl openssl python3

# The example is the first YAML block after "An example"; its password is
# scrape-me. Its certificate and key are made here, where it names them.
awk '/^An example/ { found = 1 } found && /^```$/ && inside { exit } inside { print } found && /^```yaml$/ { inside = 1 }' \
  "$doc" >"$work/web.yml"
grep -q '^basic_auth_users:' "$work/web.yml" || fail "no example web config in $doc"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 -subj /CN=127.0.0.1 \
  -addext subjectAltName=IP:127.0.0.1 -keyout "$work/web.key" -out "$work/web.crt" 2>"$work/openssl.log" ||
  fail "openssl cannot make a certificate"
promtool check web-config "$work/web.yml" || fail "promtool check web-config refuses the example: exit $?"
echo "promtool check web-config accepts the example of docs/gateway.md"

start_listening unit "$emulator" --listen 127.0.0.1:0 --seed 7 --quiet
unit=127.0.0.1:$port
start_listening exporter "$cli" serve --listen 127.0.0.1:0 --web-config "$work/web.yml" "a=$unit"
exporter=127.0.0.1:$port
exporter_pid=$pid

# status CURL_ARGS...: the HTTP status curl got, 000 for none.
status() { curl -s -o /dev/null -w '%{http_code}' --max-time 5 --cacert "$work/web.crt" "$@" || true; }
[ "$(status "https://$exporter/metrics")" = 401 ] || fail "no password: not 401"
[ "$(status -u prometheus:wrong "https://$exporter/")" = 401 ] || fail "a wrong password: not 401"
[ "$(status -u prometheus:scrape-me "https://$exporter/metrics")" = 200 ] || fail "the password: not 200"
curl -s --cacert "$work/web.crt" -u nobody:x -D - -o /dev/null "https://$exporter/metrics" 2>/dev/null |
  grep -qi '^WWW-Authenticate: Basic realm=' || fail "401 without WWW-Authenticate"
[ "$(status -u prometheus:scrape-me "http://$exporter/metrics")" = 000 ] || fail "plain HTTP answered"
echo "401 without the password or with a wrong one, 200 with it, nothing to plain HTTP"

prometheus_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
api=http://127.0.0.1:$prometheus_port/api/v1
printf 'scrape-me' >"$work/password"
cat >"$work/prometheus.yml" <<YAML
global:
  scrape_interval: 1s
  scrape_timeout: 1s
scrape_configs:
  - job_name: lumora-7150r
    scheme: https
    tls_config:
      ca_file: $work/web.crt
    basic_auth:
      username: prometheus
      password_file: $work/password
    static_configs:
      - targets: ['$exporter']
  - job_name: wrong-password
    scheme: https
    tls_config:
      ca_file: $work/web.crt
    basic_auth:
      username: prometheus
      password: scrape-you
    static_configs:
      - targets: ['$exporter']
YAML
promtool check config "$work/prometheus.yml" >/dev/null || fail "promtool check config: exit $?"
prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/data" \
  --web.listen-address="127.0.0.1:$prometheus_port" --log.level=warn >"$work/prometheus.log" 2>&1 &
pids+=("$!")

# query PROMQL: the instant vector as lines "job unit value", sorted.
query() {
  curl -sf "$api/query" --data-urlencode "query=$1" | python3 -c '
import json, sys
for series in json.load(sys.stdin)["data"]["result"]:
    labels = series["metric"]
    print(labels.get("job", "-"), labels.get("unit", "-"), series["value"][1])
' | sort
}
want=$(printf 'lumora-7150r - 1\nwrong-password - 0')
for _ in $(seq 60); do
  [ "$(query up 2>/dev/null)" = "$want" ] && [ "$(query lumora_unit_up 2>/dev/null)" = "lumora-7150r a 1" ] && break
  sleep 0.5
done
[ "$(query up)" = "$want" ] || fail "up is not 1 with the password and 0 without within 30 s:"$'\n'"$(query up)"
[ "$(query lumora_unit_up)" = "lumora-7150r a 1" ] || fail "lumora_unit_up of a over HTTPS: $(query lumora_unit_up)"
echo "Prometheus scrapes over HTTPS with the password, and gets nothing with a wrong one"

kill -TERM "$exporter_pid"
ended=0
wait "$exporter_pid" || ended=$?
[ "$ended" -eq 0 ] || fail "serve ended with status $ended on SIGTERM"
echo "prometheus over TLS: ok"
