#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Prometheus files of docs/monitoring, read by Prometheus' own promtool,
# and docs/monitoring.md, which must show them as they are.
#   check_monitoring.sh config|rules|doc SOURCE_DIR
# Exits 77 (a skip to CTest) only when promtool is missing.
set -euo pipefail

check=$1
docs=$2/docs
monitoring=$docs/monitoring

if [ "$check" != doc ] && ! command -v promtool >/dev/null; then
  echo "SKIPPED: promtool is not installed (tools/install-deps.sh installs prometheus)"
  exit 77
fi

case $check in
config)
  # Also loads the rule files the configuration names.
  promtool check config "$monitoring/prometheus.yml"
  ;;
rules)
  promtool check rules "$monitoring/lumora-7150r.rules.yml"
  # Series that must make each alert fire, and others that must not.
  promtool test rules "$monitoring/lumora-7150r.rules.test.yml"
  ;;
doc)
  # Each file whole, as one YAML block of the page, so the page cannot drift
  # from what the tests check.
  for file in prometheus.yml lumora-7150r.rules.yml; do
    python3 - "$docs/monitoring.md" "$monitoring/$file" <<'PY' || { echo "FAIL: monitoring.md does not show docs/monitoring/$file as it is"; exit 1; }
import sys
page = open(sys.argv[1], encoding="utf-8").read()
text = open(sys.argv[2], encoding="utf-8").read()
sys.exit(0 if "```yaml\n" + text + "```\n" in page else 1)
PY
  done
  grep -q 'lumora-7150r.rules.test.yml' "$docs/monitoring.md" ||
    { echo "FAIL: monitoring.md does not name the rules' tests"; exit 1; }
  ;;
*) echo "unknown check: $check" >&2; exit 2 ;;
esac
echo "monitoring $check: ok"
