#!/usr/bin/env bash
# Installs what is missing, builds Vorland and runs every test.
#   BUILD_DIR   build folder (default: build)
#   extra arguments go to cmake, e.g. -DVORLAND_SANITIZE=ON
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
vorland_install_packages tumbler dbus-daemon libglib2.0-bin

build="${BUILD_DIR:-build}"
cmake -S . -B "$build" -DVORLAND_BUILD_TESTS=ON -DVORLAND_BUILD_BENCH=ON "$@"
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
