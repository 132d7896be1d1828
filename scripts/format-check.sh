#!/usr/bin/env bash
# Checks C++ sources against .clang-format; changes nothing.
#   scripts/format-check.sh                 the lines changed since HEAD (staged or not)
#   scripts/format-check.sh --base REV      the lines changed since REV (e.g. main)
#   scripts/format-check.sh FILE...         the given files, whole
# The tree was written to this style by hand and is not reformatted wholesale,
# so a change is checked where it touches, not in the lines around it.
# Prints what clang-format would make of each place and exits 1 when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."

command -v clang-format >/dev/null && command -v git-clang-format >/dev/null ||
  { echo "format-check: clang-format is not installed (scripts/install-deps.sh installs it)" >&2; exit 2; }

base=HEAD
if [ "${1:-}" = --base ]; then
  [ $# -ge 2 ] || { echo "format-check: --base needs a revision" >&2; exit 2; }
  base=$2
  shift 2
fi

if [ $# -gt 0 ]; then
  bad=0
  for f in "$@"; do
    if ! clang-format --style=file "$f" | diff -u --label "$f" --label "$f (formatted)" "$f" -; then
      bad=1
    fi
  done
  exit $bad
fi

out=$(git clang-format --binary "$(command -v clang-format)" --style file --diff "$base" \
        -- '*.cpp' '*.h' 2>&1) || true
case "$out" in
  ""|"no modified files to format"|"clang-format did not modify any files") exit 0 ;;
esac
printf '%s\n' "$out"
exit 1
