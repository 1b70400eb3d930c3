#!/usr/bin/env bash
# Checks that every tracked C++ file is formatted as .clang-format says and
# names each place that is not as file:line, with the change the formatter
# would make. With --fix, formats them.
set -euo pipefail
cd "$(dirname "$0")/.."
format=clang-format-14

scripts/deps.sh
mapfile -d '' -t files < <(git ls-files -z -- '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
  "$format" -i -- "${files[@]}"
  exit 0
fi
report="$(mktemp)"
trap 'rm -f "$report"' EXIT
if ! "$format" --dry-run --Werror -- "${files[@]}" 2> "$report"; then
  mapfile -t unformatted < <(sed -n 's/^\(.*\):[0-9]*:[0-9]*: error: code should be clang-formatted.*/\1/p' "$report" |
                             sort -u)
  [ ${#unformatted[@]} -gt 0 ] || cat "$report" >&2
  # clang-format points at the white space before a change, often the end of
  # the line above; the first line that changes is what to look at.
  for file in "${unformatted[@]}"; do
    "$format" "$file" | diff -U0 "$file" - |
      awk -v file="$file" '/^(---|\+\+\+) / { next }
        /^@@/ { split(substr($2, 2), old, ","); print file ":" old[1] ": not formatted as .clang-format says"; next }
        { print "    " $0 }' >&2 || true
  done
  echo "To format them: scripts/check-format.sh --fix" >&2
  exit 1
fi
echo "clang-format: ${#files[@]} files, all formatted"
