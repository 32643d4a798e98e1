#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# docs/plans.md shows the example plan the package installs, whole, as one
# YAML block, so the page cannot drift from the file people copy.
#   check_plans.sh SOURCE_DIR
set -euo pipefail
docs=$1/docs
python3 - "$docs/plans.md" "$docs/examples/station.yaml" <<'PY' ||
import sys
page = open(sys.argv[1], encoding="utf-8").read()
text = open(sys.argv[2], encoding="utf-8").read()
sys.exit(0 if "```yaml\n" + text + "```\n" in page else 1)
PY
  { echo "FAIL: plans.md does not show docs/examples/station.yaml as it is"; exit 1; }
echo "plans doc: ok"
