#!/usr/bin/env bash
# The manual pages made from the programs' help: each renders without a warning and has
# a whatis line; each has its exit status, files and examples; and every command and
# every option the programs' own help names is in its page, so that a page cannot fall
# behind its program.
#   manpages_test.sh PAGES_DIR BIN_DIR
set -uo pipefail
pages="$1"
bin="$2"
command -v man >/dev/null || { echo "SKIP: man is not installed"; exit 77; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The option names in a help text: "-h,--help", "--port INT", "-v, --version".
options_of() {
  sed -n 's/^  \(-[^ ]*\(, -[^ ]*\)\?\).*/\1/p' | tr ',' '\n' | tr -d ' ' | grep -v '^$'
}

# A roff block: from the line matching $1 to the next .SS or .SH.
block() {
  awk -v start="$1" '$0 == start {on = 1; print; next} on && /^\.S[HS] / {exit} on {print}'
}

for program in varnel varnel-cli varnel-sim; do
  page="$pages/$program.1"
  [ -f "$page" ] || { fail "$program: no page"; continue; }
  warnings="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)"
  [ -z "$warnings" ] || fail "$program: man warns: $warnings"
  if command -v lexgrog >/dev/null; then
    whatis="$(lexgrog "$page" 2>&1)"
    grep -q "\"$program - " <<<"$whatis" || fail "$program: no whatis line: $whatis"
  fi
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS '"EXIT STATUS"' FILES EXAMPLES '"SEE ALSO"'; do
    grep -qx "\.SH $section" "$page" || fail "$program: no section $section"
  done
  grep -q 'q\\-link.log' "$page" || fail "$program: FILES does not name q-link.log"
  grep -qi 'settings' "$page" || fail "$program: FILES does not speak of settings"
  help="$(QT_QPA_PLATFORM=offscreen "$bin/$program" --help)"
  while read -r option; do
    grep -qF -- "${option//-/\\-}" "$page" || fail "$program: $option is not in the page"
  done < <(options_of <<<"$help")
done

# The window's help and version need no display: they are made over ssh and in a package
# build, where there is none.
for option in --help --version; do
  out="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$bin/varnel" "$option" 2>&1)" \
    || fail "varnel $option without a display: $out"
done
grep -qx "Varnel [0-9.]*" <<<"$out" || fail "varnel --version says: $out"

grep -q 'varnel\.ini' "$pages/varnel.1" || fail "varnel: FILES does not name the template"
grep -q 'varnel\.ini' "$pages/varnel-cli.1" || fail "varnel-cli: FILES does not name the template"

# Every command of varnel-cli with every option of its help, in its own part of the page.
commands="$("$bin/varnel-cli" --help | sed -n '/^Subcommands:/,$p' | awk 'NR > 1 && /^  [a-z]/ {print $1}')"
[ -n "$commands" ] || fail "varnel-cli --help lists no commands"
for command in $commands; do
  part="$(block ".SS \"$command\"" <"$pages/varnel-cli.1")"
  [ -n "$part" ] || { fail "varnel-cli: no part for $command"; continue; }
  while read -r option; do
    grep -qF -- "${option//-/\\-}" <<<"$part" || fail "varnel-cli $command: $option is not in its part"
  done < <("$bin/varnel-cli" "$command" --help | options_of)
done

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "PASS: manual pages of varnel, varnel-cli and varnel-sim"
