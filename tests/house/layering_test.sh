#!/usr/bin/env bash
# Each layer includes only the layers below it, and nothing below the windows includes Qt.
#   layering_test.sh SOURCE_DIR
# Exit 0 when the tree keeps to that, 1 with every offending line otherwise.
set -euo pipefail
root="${1:?source directory}"
cd "$root"

# The layers each one may include, itself first.
declare -A allowed=(
  [protocol]="protocol"
  [data]="data"
  [comm]="comm protocol data"
  [controller]="controller comm protocol data"
  [workflows]="workflows controller comm protocol data"
  [ui]="ui workflows controller comm protocol data"
  [sim]="sim protocol"
)
layers="protocol data comm controller workflows ui sim apps tests bench fuzz"

status=0
for layer in "${!allowed[@]}"; do
  while IFS= read -r -d '' file; do
    while IFS=: read -r line text; do
      target="$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([a-z]+)\/.*/\1/' <<<"$text")"
      [[ " $layers " == *" $target "* ]] || continue
      if [[ " ${allowed[$layer]} " != *" $target "* ]]; then
        echo "$file:$line: $layer includes $target, which it may not: $text"
        status=1
      fi
    done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[a-z]+/' "$file" || true)
    if [[ "$layer" != ui ]]; then
      while IFS= read -r hit; do
        echo "$file:$hit: Qt below the windows"
        status=1
      done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q[A-Za-z]+' "$file" || true)
    fi
  done < <(find "$layer" -type f \( -name '*.h' -o -name '*.cpp' \) -print0)
done
[[ $status -eq 0 ]] && echo "layering: every layer includes only what lies below it"
exit $status
