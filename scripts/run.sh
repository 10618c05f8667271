#!/usr/bin/env bash
# Installs what is missing, builds Vorland and shows its command-line tool at
# work: a file is compressed into a Refp stream and unpacked again.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
vorland_install_packages

build="${BUILD_DIR:-build}"
cmake -S . -B "$build" -DVORLAND_BUILD_TESTS=OFF -DVORLAND_BUILD_BENCH=OFF
cmake --build "$build" -j"$(nproc)"

cli="$build/bin/vorland-cli"
"$cli" --help
work="$(mktemp -d)"
cp README.md "$work/readme.txt"
"$cli" compress "$work/readme.txt" "$work/readme.refp"
"$cli" decompress "$work/readme.refp" "$work/readme.back"
cmp "$work/readme.txt" "$work/readme.back"
echo "README.md: $(stat -c %s "$work/readme.txt") bytes, as a Refp stream $(stat -c %s "$work/readme.refp") bytes, unpacked again unchanged."
rm -r "$work"
