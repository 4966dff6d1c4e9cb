#!/usr/bin/env bash
# Every C++ file of the tree is formatted as .clang-format says.
#   format_test.sh SOURCE_DIR
set -euo pipefail
root="${1:?source directory}"
cd "$root"
tool="$(command -v clang-format || command -v clang-format-14 || true)"
if [[ -z "$tool" ]]; then
  echo "clang-format is not installed (scripts/install-deps installs it)"
  exit 1
fi
mapfile -d '' files < <(find protocol data comm controller workflows ui sim apps tests bench fuzz \
  -type f \( -name '*.h' -o -name '*.cpp' \) -print0 | sort -z)
if ! "$tool" --dry-run --Werror "${files[@]}" 2>/tmp/format_test.$$; then
  grep -E '^[^ ].*(warning|error):' /tmp/format_test.$$ | cut -d: -f1 | sort -u |
    sed 's/^/not formatted: /'
  echo "run: clang-format -i <file>"
  rm -f /tmp/format_test.$$
  exit 1
fi
rm -f /tmp/format_test.$$
echo "format: ${#files[@]} files as .clang-format says"
