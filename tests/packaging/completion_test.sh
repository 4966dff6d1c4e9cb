#!/usr/bin/env bash
# varnel-cli's bash completion as a user meets it: commands, each command's options, the
# template's tab names for --tab (beside the program, or the file --template names, names
# with blanks and quotes kept whole), adapters, files; with bash-completion's word
# splitting and without it.
#   completion_test.sh COMPLETION_FILE VARNEL_CLI
set -uo pipefail
completion="$(realpath "$1")"
cli="$(realpath "$2")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0

cat >"$work/plant tabs.ini" <<'INI'
[General]
Note=not a tab
[Pumps, north]
Var0=temp
[Tank "farm" & co]
Var0=levels[3]
[Process]
Var0=setpoint
INI
touch "$work/values.xml" "$work/other.txt"

# COMP_WORDS as bash makes them: split at blanks and at = and :, which are words of their
# own, outside quotes; quotes and backslashes kept as typed; a blank at the end starts an
# empty word.
split_words() {
  local line="$1" word="" quote="" c i
  COMP_WORDS=()
  for ((i = 0; i < ${#line}; i++)); do
    c=${line:i:1}
    if [ -n "$quote" ]; then
      word+=$c
      [ "$c" = "$quote" ] && quote=""
    elif [ "$c" = "\\" ]; then
      word+=$c${line:i+1:1}
      i=$((i + 1))
    elif [ "$c" = "'" ] || [ "$c" = '"' ]; then
      word+=$c
      quote=$c
    elif [ "$c" = " " ]; then
      [ -n "$word" ] && COMP_WORDS+=("$word")
      word=""
    elif [ "$c" = "=" ] || [ "$c" = ":" ]; then
      [ -n "$word" ] && COMP_WORDS+=("$word")
      COMP_WORDS+=("$c")
      word=""
    else
      word+=$c
    fi
  done
  if [ -n "$word" ] || [ "${line: -1}" = " " ]; then COMP_WORDS+=("$word"); fi
}

# complete LINE: the candidates bash would offer at the end of LINE, one a line, sorted.
complete_line() {
  local line="$1"
  COMP_LINE="$line"
  COMP_POINT=${#line}
  split_words "$line"
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _varnel_cli "${COMP_WORDS[0]}"
  printf '%s\n' "${COMPREPLY[@]}" | sort
}

# expect "what" LINE "candidate..." : exactly these candidates
expect() {
  local what="$1" line="$2" got wanted
  shift 2
  got="$(complete_line "$line")"
  wanted="$(printf '%s\n' "$@" | sort)"
  if [ "$got" != "$wanted" ]; then
    echo "FAIL ($mode): $what"
    echo "  line:   $line"
    echo "  wanted: $(echo "$wanted" | tr '\n' '|')"
    echo "  got:    $(echo "$got" | tr '\n' '|')"
    failures=$((failures + 1))
  fi
}

# offers "what" LINE "candidate..." : at least these
offers() {
  local what="$1" line="$2" got c
  shift 2
  got="$(complete_line "$line")"
  for c in "$@"; do
    if ! grep -qxF -- "$c" <<<"$got"; then
      echo "FAIL ($mode): $what: \"$c\" not offered"
      echo "  line: $line"
      echo "  got:  $(echo "$got" | tr '\n' '|')"
      failures=$((failures + 1))
    fi
  done
}

run_cases() {
  cd "$work"
  # The commands are those of the program's help, whatever they are.
  local commands
  commands="$("$cli" --help | sed -n '/^Subcommands:/,$p' | awk 'NR > 1 && /^  [a-z]/ {print $1}')"
  # shellcheck disable=SC2086
  expect "every command" "$cli " $commands
  expect "a command from its start" "$cli sta" status
  offers "the read command's options" "$cli read --" --tab --template --ee --nad --ip --adapter --json --log
  expect "options from their start" "$cli read --t" --tab --template
  expect "no second command after one" "$cli scan sta"
  expect "tabs of the template beside the program" "$cli read --tab " Process Production
  expect "tabs of the --template given" "$cli read temp --template 'plant tabs.ini' --tab " \
    'Pumps\,\ north' 'Tank\ \"farm\"\ \&\ co' Process
  expect "a tab from its start" "$cli export out.xml --template plant\\ tabs.ini --tab P" \
    'Pumps\,\ north' Process
  expect "a tab after =" "$cli import values.xml --template='plant tabs.ini' --tab=T" \
    'Tank\ \"farm\"\ \&\ co'
  expect "a template that is not there has no tabs" "$cli read --template nowhere.ini --tab "
  offers "files for --template" "$cli tabs --template " "plant tabs.ini" values.xml
  offers "files for a FILE positional" "$cli import " values.xml other.txt
  expect "nothing after the FILE of import" "$cli import values.xml "
  offers "adapters" "$cli scan --adapter " lo
  expect "an address with its port is one value" "$cli read --nad 10 --ip 127.0.0.1:8442 --t" \
    --tab --template
  expect "no guess at a number" "$cli read --port "
  expect "a value is no command" "$cli --version sc" scan
}

# Without bash-completion: bash's own word splitting.
mode="plain bash"
(
  # shellcheck disable=SC1090
  source "$completion"
  run_cases
  exit "$failures"
) || failures=$((failures + $?))

# With bash-completion loaded, which splits the words itself; as it loads this file, from
# inside a function.
if [ -f /usr/share/bash-completion/bash_completion ]; then
  mode="bash-completion"
  (
    # shellcheck disable=SC1091
    source /usr/share/bash-completion/bash_completion
    load() { source "$completion"; }
    load
    run_cases
    exit "$failures"
  ) || failures=$((failures + $?))
else
  echo "SKIP: bash-completion is not installed; checked with plain bash only"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "PASS: varnel-cli completion"
