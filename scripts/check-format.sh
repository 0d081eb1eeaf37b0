#!/usr/bin/env bash
# Fails when a tracked C++ source differs from what clang-format makes of it (.clang-format), and
# names the files. `scripts/check-format.sh --fix` formats them in place instead.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
format=clang-format-14
mapfile -t sources < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
  exec "$format" -i "${sources[@]}"
fi
# One run over every source; each difference is reported as "FILE:LINE:COLUMN: error: ...".
if report=$("$format" --dry-run --Werror "${sources[@]}" 2>&1); then
  echo "check-format: ${#sources[@]} sources formatted"
  exit 0
fi
unformatted=$(grep -o '^[^:]*:[0-9]*:[0-9]*: error' <<<"$report" | cut -d: -f1 | sort -u | tr '\n' ' ')
echo "check-format: not formatted (scripts/check-format.sh --fix): ${unformatted:-$report}" >&2
exit 1
