#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into a scratch DESTDIR and checks one part of what a
# desktop, a software centre, man(1) and systemd will read from it.
#   check_install.sh layout|desktop|metainfo|manpages|service BUILD_DIR
# Exits 77 (a skip to CTest) only when a validator the check needs is missing.
set -euo pipefail

check=$1
build=$2
# The client's and the viewer's desktop entries, AppStream data and icons.
app_ids="example.lumora.Sim7150R example.lumora.Signals7150R"
service=lumora-7150r-exporter.service

need() {
  command -v "$1" >/dev/null ||
    { echo "SKIPPED: $1 is not installed (tools/install-deps.sh installs $2)"; exit 77; }
}
case $check in
  desktop) need desktop-file-validate desktop-file-utils ;;
  metainfo) need appstreamcli appstream ;;
  manpages) need groff groff-base; need man man-db; need lexgrog man-db ;;
  service) need systemd-analyze systemd; need man man-db ;;
  layout) ;;
  *) echo "unknown check: $check" >&2; exit 2 ;;
esac

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
usr=$root/usr

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# A validator passes only when it exits 0 and has nothing to say.
quiet() {
  local out
  if ! out=$("$@" 2>&1) || [ -n "$out" ]; then
    fail "$* ->"$'\n'"$out"
  fi
}

case $check in
layout)
  for program in lumora-7150r-sim lumora-7150r-unit lumora-7150r-cli lumora-7150r-view; do
    [ -x "$usr/bin/$program" ] || fail "bin/$program is not installed"
  done
  for app_id in $app_ids; do
    for file in share/applications/$app_id.desktop share/metainfo/$app_id.metainfo.xml \
                share/icons/hicolor/scalable/apps/$app_id.svg; do
      [ -f "$usr/$file" ] || fail "$file is not installed"
    done
    for size in 16 32 48 64 128 256; do
      file=share/icons/hicolor/${size}x$size/apps/$app_id.png
      [ -f "$usr/$file" ] || fail "$file is not installed"
    done
  done
  # Each program has its manual page and each page its program.
  for program in "$usr"/bin/*; do
    [ -f "$usr/share/man/man1/$(basename "$program").1.gz" ] || fail "no manual page for bin/$(basename "$program")"
  done
  for page in "$usr"/share/man/man1/*; do
    [ -x "$usr/bin/$(basename "$page" .1.gz)" ] || fail "manual page $(basename "$page") has no program"
  done
  [ -f "$usr/lib/systemd/system/$service" ] || fail "lib/systemd/system/$service is not installed"
  # The example units file lists no unit: installing polls nothing.
  units=$(find "$root" -path '*/etc/lumora-7150r/units')
  if [ -z "$units" ]; then
    fail "etc/lumora-7150r/units is not installed"
  elif grep -qv '^[[:space:]]*\(#.*\)\?$' "$units"; then
    fail "etc/lumora-7150r/units lists a unit"
  fi
  doc=$usr/share/doc/lumora-7150r
  for file in monitoring.md gateway.md monitoring/prometheus.yml monitoring/lumora-7150r.rules.yml plans.md \
              examples/station.yaml junit.xsd; do
    [ -f "$doc/$file" ] || fail "share/doc/lumora-7150r/$file is not installed"
  done
  grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$doc/copyright" ||
    fail "share/doc/lumora-7150r/copyright is missing or not in the machine-readable format"
  # Debian's manual pages and changelogs are gzip files made with -9n. Their
  # header: gzip, deflate, no flags (no file name), time 0, best compression.
  for file in "$usr"/share/man/man1/* "$doc/changelog.gz"; do
    header=$(od -An -tx1 -N9 "$file" 2>/dev/null | tr -d ' \n') || true
    [ "$header" = 1f8b08000000000002 ] || fail "${file#"$usr"/} is not compressed with gzip -9n ($header)"
  done
  ;;
desktop)
  for app_id in $app_ids; do
    entry=$usr/share/applications/$app_id.desktop
    quiet desktop-file-validate "$entry"
    exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
    [ -x "$usr/bin/$exec_program" ] || fail "Exec=$exec_program is not an installed program"
    icon=$(sed -n 's/^Icon=//p' "$entry")
    [ -f "$usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "Icon=$icon is not in the hicolor theme"
  done
  ;;
metainfo)
  for app_id in $app_ids; do
    appstreamcli validate --no-net "$usr/share/metainfo/$app_id.metainfo.xml" || fail "appstreamcli validate $app_id"
  done
  # The launchable must name the installed desktop entry.
  appstreamcli validate-tree --no-net "$usr" || fail "appstreamcli validate-tree"
  ;;
manpages)
  for page in "$usr"/share/man/man1/*.1.gz; do
    name=$(basename "$page" .1.gz)
    source=$(gzip -dc "$page") || { fail "$name.1.gz does not decompress"; continue; }
    quiet groff -man -ww -z <<<"$source"
    warnings=$(man --warnings -l "$page" 2>&1 >/dev/null) || true
    [ -z "$warnings" ] || fail "man --warnings $name.1:"$'\n'"$warnings"
    whatis=$(lexgrog "$page" 2>&1) || true
    [[ $whatis == *": \"$name - "* ]] || fail "$name.1: NAME section does not parse for whatis ($whatis)"
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS FILES "EXIT STATUS"; do
      grep -q "^\.SH \"\?$section\"\?\$" <<<"$source" || fail "$name.1 has no $section section"
    done
    # Every option the program lists is described (the client takes none).
    [ "$name" = lumora-7150r-sim ] && continue
    help=$(timeout 10 "$usr/bin/$name" --help 2>/dev/null) || continue
    text=${source//\\-/-}
    for option in $(grep -o -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
      # Qt's own --help-all is not the program's to describe.
      [ "$option" = --help-all ] && continue
      grep -q -- "$option" <<<"$text" || fail "$name.1 does not describe $option"
    done
  done
  ;;
service)
  # Verified as systemd on the target would load it: against the installed
  # program and manual page (Documentation=man:), and beside the system's
  # own units, which the service's default dependencies name.
  cp -a --no-clobber /usr/lib/systemd/system/. "$usr/lib/systemd/system/"
  # ExecReload's kill is the system's (procps), not the package's.
  mkdir -p "$root/bin" && cp /bin/kill "$root/bin/kill"
  MANPATH=$usr/share/man quiet systemd-analyze verify --root="$root" "$usr/lib/systemd/system/$service"
  # The hardening stays where it is: systemd's own exposure score, 0 (none)
  # to 10 (fully exposed), at most 2.0 (it is 1.2 with the sandboxing the
  # unit has, 9.6 without any).
  systemd-analyze security --offline=true --root="$root" --threshold=20 "$service" >/dev/null ||
    fail "systemd-analyze security: $service is more exposed than 2.0:"$'\n'"$(systemd-analyze security --offline=true --root="$root" "$service" 2>&1 | grep '✗')"
  ;;
esac

[ "$failures" -eq 0 ] || exit 1
echo "install $check: ok"
