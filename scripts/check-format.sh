#!/usr/bin/env bash
# The tree keeps the house style of .clang-format; prints the files that
# differ and fails when there is one. `clang-format -i FILE` mends a file.
set -euo pipefail
cd "$(dirname "$0")/.."
files=$(git ls-files -- 'src/*.cpp' 'src/*.h' 'tools/*.cpp' 'tools/*.h' 'include/*.h' 'tests/*.cpp' 'tests/*.h' \
          'python/*.cpp' 'python/*.h' 'fuzz/*.cpp' 'fuzz/*.h' 'bench/*.cpp' 'bench/*.h')
bad=()
for f in $files; do
  [ -f "$f" ] || continue
  clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
  printf 'format check: %d file(s) differ from .clang-format:\n' "${#bad[@]}" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "format check: $(echo "$files" | wc -w) files in the house style"
