#!/usr/bin/env bash
# Builds the libFuzzer programs with clang and runs each target for SECONDS
# (default 60) with a memory limit and a per-input timeout. Any crash, leak,
# timeout or out-of-memory fails the run, and the input that caused it is
# kept in fuzz/regressions/<target>/, which the ordinary test run replays.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
vorland_install_packages clang libclang-rt-14-dev

seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(refp big png tga tpi safepath)

build="${FUZZ_BUILD_DIR:-build-fuzz}"
CC=clang CXX=clang++ cmake -S . -B "$build" -DVORLAND_FUZZ=ON -DVORLAND_BUILD_TESTS=OFF \
    -DVORLAND_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzzseeds $(printf 'fuzz_%s ' "${targets[@]}")

status=0
for target in "${targets[@]}"; do
    corpus="$build/corpus/$target"
    regressions="fuzz/regressions/$target"
    mkdir -p "$corpus" "$regressions"
    log="$build/fuzz-$target.log"
    echo "== $target: ${seconds}s"
    if ! "$build/bin/fuzz_$target" "$corpus" "$build/fuzz-seeds/$target" "$regressions" \
        -max_total_time="$seconds" -rss_limit_mb=1024 -timeout=10 -max_len=65536 \
        -artifact_prefix="$regressions/" -print_final_stats=1 >"$log" 2>&1; then
        echo "fuzz_$target failed; its input is in $regressions/:"
        grep -E 'ERROR|SUMMARY|Test unit written' "$log" | head -20
        status=1
    fi
    grep -E '^stat::number_of_executed_units|^Done|cov: ' "$log" | tail -3
done
exit $status
