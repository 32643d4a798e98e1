#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# clang-tidy over every source of the client, the command line, the emulator,
# the benchmarks, the fuzz targets, the soak driver and the tests (.clang-tidy
# says which checks), from the compile commands of a configured build folder
# (default build/). Exits non-zero on any finding, and on anything clang-tidy
# says about itself: a .clang-tidy it cannot parse (clang-tidy then carries on
# with its default checks and exits 0), a source that does not compile, a build
# folder without compile commands, or no source checked at all.
#
# A source found clean is remembered, as ccache remembers a compile, under a
# hash of everything its result depends on: the source as the compiler sees it
# once preprocessed (so every header it reads), the tree's own files it reads
# as they are (a NOLINT taken out of a comment must be checked again), its
# compile command, .clang-tidy and the clang-tidy version. Paths inside the clone count relative to it, so
# another clone of the same tree finds the same entries. Only clean results are
# kept: a finding is shown again on every run until it is fixed.
#   TIDY_JOBS=1 TIDY_CACHE=0 tools/tidy.sh [BUILD_DIR]
# TIDY_CACHE=0 checks every source afresh; TIDY_CACHE_DIR moves the cache
# (default ~/.cache/lumora-tidy).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

fail() {
  echo "tidy.sh: $*" >&2
  exit 2
}
tidy=$(command -v clang-tidy || command -v clang-tidy-14) ||
  fail "clang-tidy is not installed (tools/install-deps.sh installs it)"
command -v jq >/dev/null || fail "jq is not installed (tools/install-deps.sh installs it)"
[ -f "$build/compile_commands.json" ] ||
  fail "$build/compile_commands.json is missing: configure $build first (tools/build.sh)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

export TIDY_ROOT=$PWD TIDY_BIN=$tidy TIDY_BUILD=$build TIDY_WORK=$work
export TIDY_CACHE=${TIDY_CACHE:-1}
export TIDY_CACHE_DIR=${TIDY_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/lumora-tidy}
# What every entry depends on besides the source itself.
TIDY_SALT=$({ "$tidy" --version; cat .clang-tidy; } | sha256sum | cut -d' ' -f1)
export TIDY_SALT
if [ "$TIDY_CACHE" != 0 ]; then
  mkdir -p "$TIDY_CACHE_DIR"
  # Entries nobody has read for a month belong to trees long gone.
  find "$TIDY_CACHE_DIR" -type f -mtime +30 -delete 2>/dev/null || true
fi

# Sources only; their headers come in through HeaderFilterRegex. One line a
# source: number, file, folder and compile command, tab-separated.
jq -r --arg root "$PWD" '
  [.[] | select(.file | test("^" + $root + "/(app|bench|cli|emulator|exporter|fuzz|log|modbus|mqtt|ping|plan|platform|protocol|settings|tests|timeline|tools/soak|viewer|waveform)/.*\\.cpp$"))]
  | unique_by(.file) | to_entries[]
  | [(.key | tostring), .value.file, .value.directory, (.value.command // (.value.arguments | map(@sh) | join(" ")))]
  | @tsv' "$build/compile_commands.json" >"$work/sources"

check_one() {
  local n=$1 file=$2 dir=$3 cmd=$4 key="" entry=""
  # @tsv escaped the backslashes of quoted definitions.
  cmd=${cmd//\\\\/\\}
  if [ "$TIDY_CACHE" != 0 ]; then
    local pre=${cmd% -o *}" "${cmd#* -o * }
    local pp=$TIDY_WORK/$n.i
    if (cd "$dir" && eval "$pre -E -o \"\$pp\"" 2>/dev/null) && key=$(set -o pipefail
      { echo "$TIDY_SALT"
        echo "${pre//$TIDY_ROOT/@}"
        sed "s|$TIDY_ROOT|@|g" "$pp"
        # The comments the preprocessor drops, of the tree's own files.
        sed -n "s|^# [0-9]* \"\($TIDY_ROOT/[^\"]*\)\".*|\1|p" "$pp" | sort -u | xargs -r -d '\n' cat
      } | sha256sum | cut -d' ' -f1); then
      rm -f "$pp"
      entry=$TIDY_CACHE_DIR/${key:0:2}/$key
      if [ -f "$entry" ]; then
        touch "$entry"
        echo cached >"$TIDY_WORK/$n.rc"
        return 0
      fi
    fi
  fi
  local rc=0
  "$TIDY_BIN" -p "$TIDY_BUILD" -quiet "$file" >"$TIDY_WORK/$n.out" 2>"$TIDY_WORK/$n.err" || rc=$?
  echo "$rc" >"$TIDY_WORK/$n.rc"
  if [ "$rc" -eq 0 ] && [ -n "$entry" ] && [ ! -s "$TIDY_WORK/$n.out" ] &&
    ! own_words "$TIDY_WORK/$n.err" >/dev/null; then
    mkdir -p "${entry%/*}" && : >"$entry"
  fi
}
# clang-tidy counts what it found on stderr; that much is expected, anything
# else there is clang-tidy's own trouble.
own_words() {
  grep -Ev '^[0-9]+ (warning|error)s? (and [0-9]+ errors? )?generated\.$|^[0-9]+ warnings? treated as errors?$' "$@"
}
export -f check_one own_words

tr '\t\n' '\0\0' <"$work/sources" | xargs -0 -n 4 -P "${TIDY_JOBS:-$(nproc)}" bash -c 'check_one "$@"' _

checked=$(wc -l <"$work/sources")
[ "$checked" -gt 0 ] || fail "no source matched in $build/compile_commands.json"
cached=$(cat "$work"/*.rc | grep -c '^cached$' || true)
findings=$(cat "$work"/*.rc | grep -Evc '^(cached|0)$' || true)
cat "$work"/*.out 2>/dev/null || true
own=$(cat "$work"/*.err 2>/dev/null | own_words || true)
if [ -n "$own" ]; then
  echo "$own" >&2
  fail "clang-tidy reported the errors above"
fi
[ "$findings" -eq 0 ] || fail "findings in the sources above ($checked sources checked)"
echo "clang-tidy: $checked sources checked ($cached clean before and unchanged), nothing found"
