#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# clang-tidy over every source of the client, the command line, the emulator,
# the benchmarks, the fuzz targets, the soak driver and the tests (.clang-tidy
# says which checks), from the compile commands of a configured build folder
# (default build/). Exits non-zero on any finding, and on anything clang-tidy
# says about itself: a .clang-tidy it cannot parse (clang-tidy then carries on
# with its default checks and exits 0), a source that does not compile, a build
# folder without compile commands, or no source checked at all.
#   TIDY_JOBS=1 tools/tidy.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

fail() {
  echo "tidy.sh: $*" >&2
  exit 2
}
tidy=$(command -v clang-tidy || command -v clang-tidy-14) ||
  fail "clang-tidy is not installed (tools/install-deps.sh installs it)"
runner=$(command -v run-clang-tidy || command -v run-clang-tidy-14) ||
  fail "run-clang-tidy is not installed (tools/install-deps.sh installs it)"
[ -f "$build/compile_commands.json" ] ||
  fail "$build/compile_commands.json is missing: configure $build first (tools/build.sh)"

out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT

# Sources only; their headers come in through HeaderFilterRegex.
status=0
"$runner" -quiet -clang-tidy-binary "$tidy" -p "$build" -j "${TIDY_JOBS:-$(nproc)}" \
  "$PWD/(app|bench|cli|emulator|exporter|fuzz|log|ping|platform|protocol|settings|tests|timeline|tools/soak|viewer|waveform)/.*\.cpp$" \
  >"$out" 2>"$err" || status=$?

# The runner asks clang-tidy for colour whatever the output is; the colour
# codes also hide where its lines begin. It echoes each command it starts; the
# rest of its output is findings.
sed -i 's/\x1b\[[0-9;]*m//g' "$out"
checked=$(grep -c "^$tidy " "$out" || true)
grep -v "^$tidy " "$out" || true
# clang-tidy counts what it found on stderr; that much is expected, anything
# else there is clang-tidy's own trouble.
own=$(grep -Ev '^[0-9]+ (warning|error)s? (and [0-9]+ errors? )?generated\.$|^[0-9]+ warnings? treated as errors?$' \
  "$err" || true)
if [ -n "$own" ]; then
  echo "$own" >&2
  fail "clang-tidy reported the errors above"
fi
[ "$checked" -gt 0 ] || fail "no source matched in $build/compile_commands.json"
[ "$status" -eq 0 ] || fail "findings in the sources above ($checked sources checked)"
echo "clang-tidy: $checked sources checked, nothing found"
