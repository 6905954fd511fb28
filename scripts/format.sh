#!/usr/bin/env bash
# Formats every C++ source of the project with clang-format 14 and .clang-format:
#   scripts/format.sh           rewrites the files that differ
#   scripts/format.sh --check   changes nothing; fails, naming them, when any file differs
set -euo pipefail
cd "$(dirname "$0")/.."

tool=$(command -v clang-format-14 || command -v clang-format || true)
if [[ -z $tool ]]; then
  echo "clang-format is missing: run scripts/deps.sh test" >&2
  exit 1
fi
mapfile -t files < <(git ls-files '*.cpp' '*.h')

if [[ ${1:-} == --check ]]; then
  unformatted=()
  for f in "${files[@]}"; do
    "$tool" --style=file "$f" | cmp -s - "$f" || unformatted+=("$f")
  done
  if [[ ${#unformatted[@]} -gt 0 ]]; then
    echo "Not formatted (run scripts/format.sh): ${unformatted[*]}" >&2
    exit 1
  fi
  echo "All ${#files[@]} C++ sources are formatted."
else
  "$tool" --style=file -i "${files[@]}"
fi
