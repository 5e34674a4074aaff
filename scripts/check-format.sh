#!/usr/bin/env bash
# Checks every C++ source against .clang-format and fails on the first difference; it rewrites
# nothing. With --fix it formats the sources in place instead.
set -euo pipefail
cd "$(dirname "$0")/.."
if git rev-parse --is-inside-work-tree > /dev/null 2>&1; then
  mapfile -t files < <(git ls-files '*.cpp' '*.hpp')
else
  mapfile -t files < <(find app bus emulator tester service metrics capture sim tests bench fuzz \
    \( -name '*.cpp' -o -name '*.hpp' \) 2> /dev/null | sort)
fi
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
if ! clang-format --dry-run --Werror "${files[@]}"; then
  echo "Formatting differs from .clang-format; ./scripts/check-format.sh --fix rewrites it." >&2
  exit 1
fi
