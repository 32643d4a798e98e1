#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package as tools/package.sh does (build-package/, kept
# between runs, so a second run builds only what changed) and has Debian's own
# checker read it. Fails on any error or warning; what lintian only mentions
# (information, pedantic notes) is shown but passes. Overrides, if the package
# ever needs one, ship in it (usr/share/lintian/overrides/lumora-7150r), where
# they can be seen and argued.
#   tools/lint-package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
OUT_DIR=$out tools/package.sh >/dev/null
deb=$(echo "$out"/lumora-7150r_*.deb)
[ -f "$deb" ] || { echo "lint-package.sh: tools/package.sh left no package" >&2; exit 2; }
echo "lintian $(basename "$deb")"
lintian --fail-on error,warning --display-info "$deb"
echo "lintian: no errors, no warnings"
