#!/usr/bin/env bash
# Checks that every tracked C++ file is formatted as .clang-format says; each
# place that is not is printed as file:line:column. With --fix, formats them.
set -euo pipefail
cd "$(dirname "$0")/.."
format=clang-format-14

scripts/deps.sh
mapfile -d '' -t files < <(git ls-files -z -- '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
  "$format" -i -- "${files[@]}"
  exit 0
fi
if ! "$format" --dry-run --Werror -- "${files[@]}"; then
  echo "Some files are not formatted (above); to format them: scripts/check-format.sh --fix" >&2
  exit 1
fi
echo "clang-format: ${#files[@]} files, all formatted"
