#!/usr/bin/env bash
# Installs what is missing, builds Vorland and the demo archive, and starts
# Vorland in the folder that holds demo.big, so that File, Open shows it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
vorland_install_packages

build="${BUILD_DIR:-build}"
cmake -S . -B "$build" -DVORLAND_BUILD_TESTS=OFF -DVORLAND_BUILD_BENCH=OFF
cmake --build "$build" -j"$(nproc)"
cd "$build/demo-files"
exec ../bin/vorland "$@"
