#!/usr/bin/env bash
# Checks that every tracked C and C++ source is formatted as .clang-format
# says, naming the files that are not; with --fix, formats them instead.
#   scripts/format.sh [--fix]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
vorland_install_packages clang-format

mapfile -t sources < <(git ls-files '*.c' '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
    clang-format -i "${sources[@]}"
    exit 0
fi
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! clang-format --dry-run --Werror "${sources[@]}" 2>"$log"; then
    grep -o '^[^:]*:[0-9]*:[0-9]*: error' "$log" | cut -d: -f1 | sort -u |
        sed 's/^/not formatted: /' >&2
    echo "run scripts/format.sh --fix" >&2
    exit 1
fi
echo "formatted: ${#sources[@]} sources"
