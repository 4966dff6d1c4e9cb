#!/usr/bin/env bash
# What `cmake --install` puts in place: the three programs with the example template beside
# varnel, a desktop entry that validates, and the icon in every hicolor size; with "docs",
# also the manual pages, varnel-cli's completion and the AppStream metadata, which validates.
#   install_test.sh BUILD_DIR [docs]
set -euo pipefail
build="$1"
docs="${2:-}"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
cmake --install "$build" --prefix "$prefix" >/dev/null
for program in varnel varnel-cli varnel-sim; do
  [ -x "$prefix/bin/$program" ] || fail "$program is not installed"
done
# The template lies at the program's path without extension, plus ".ini".
[ -f "$prefix/bin/varnel.ini" ] || fail "no template beside varnel"
grep -q '^\[Process\]' "$prefix/bin/varnel.ini" || fail "the template has no tab"
desktop="$prefix/share/applications/varnel.desktop"
[ -f "$desktop" ] || fail "no desktop entry"
grep -q '^Exec=varnel$' "$desktop" || fail "the desktop entry does not start varnel"
grep -q '^Icon=varnel$' "$desktop" || fail "the desktop entry names no icon"
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$desktop"; fi
for size in 16 22 24 32 48 64 96 128 256; do
  icon="$prefix/share/icons/hicolor/${size}x${size}/apps/varnel.png"
  [ -f "$icon" ] || fail "no ${size}x${size} icon"
  if command -v identify >/dev/null; then
    [ "$(identify -format '%wx%h' "$icon")" = "${size}x${size}" ] || fail "the ${size}x${size} icon has another size"
  fi
done
[ -f "$prefix/share/icons/hicolor/scalable/apps/varnel.svg" ] || fail "no scalable icon"
if [ "$docs" = docs ]; then
  for program in varnel varnel-cli varnel-sim; do
    [ -f "$prefix/share/man/man1/$program.1" ] || fail "no manual page $program(1)"
  done
  [ -f "$prefix/share/bash-completion/completions/varnel-cli" ] || fail "no completion of varnel-cli"
  metainfo="$prefix/share/metainfo/example.morvane.varnel.metainfo.xml"
  [ -f "$metainfo" ] || fail "no AppStream metadata"
  if command -v appstreamcli >/dev/null; then appstreamcli validate --no-net "$metainfo" >/dev/null; fi
  echo "PASS: manual pages, completion and AppStream metadata installed"
fi
echo "PASS: programs, template, desktop entry and icons installed"
