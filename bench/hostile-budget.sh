#!/usr/bin/env bash
# Runs every file of the hostile corpus through vorland-cli as the hostile
# test does, under /usr/bin/time, and prints each run's peak memory and
# time beside the budget: for the verbs a person runs, 64 MiB plus twice what
# the file's bytes can legitimately decode to (a Refp stream at most 257
# times its length, deflate 1032 times), and 2 s; for what runs on files no
# person chose (the thumbnailer, render of a picture, the TPI plug-in read
# by a plain Qt program), 256 MiB and 1 s whatever the file.
#   bench/hostile-budget.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
cli="$build/bin/vorland-cli"
export QT_PLUGIN_PATH="$PWD/$build/plugins" QT_QPA_PLATFORM=offscreen
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
printf '%-34s %-10s %10s %12s %8s %s\n' file verb "peak MiB" "budget MiB" seconds status
worst=0
for file in tests/data/hostile/*; do
    name=$(basename "$file")
    bytes=$(stat -c %s "$file")
    case "$name" in
    *.png) expansion=1032 ;;
    *) expansion=257 ;;
    esac
    case "$name" in
    *.big) runs=("info --json $file" "list $file" "extract $file -o $out/x" "thumbnail $file $out/t.png") ;;
    *.refp) runs=("decompress $file $out/out.bin") ;;
    *.tpi) runs=("render $file -o $out/out.png" "thumbnail $file $out/t.png" "plug-in $file") ;;
    *.png | *.tga) runs=("render $file -o $out/out.png" "thumbnail $file $out/t.png") ;;
    *) continue ;;
    esac
    for run in "${runs[@]}"; do
        rm -rf "$out/x" "$out/out.bin" "$out/out.png" "$out/t.png"
        program=$cli
        budget=$(( (64 << 20) + 2 * bytes * expansion ))
        limit=2
        case "$run" in
        thumbnail* | render* | plug-in*) budget=$((256 << 20)) limit=1 ;;
        esac
        arguments=$run
        [ "${run%% *}" = plug-in ] && program="$build/bin/tpiread" arguments=$file
        set +e
        # shellcheck disable=SC2086
        /usr/bin/time -f '%M %e' -o "$out/time" "$program" $arguments >/dev/null 2>&1
        status=$?
        set -e
        read -r kib seconds < <(tail -n 1 "$out/time")
        peak=$((kib * 1024))
        verdict=ok
        if [ "$peak" -gt "$budget" ] || [ "$(echo "$seconds > $limit" | bc)" = 1 ] ||
            { [ "$status" -gt 1 ] && [ "$program" = "$cli" ]; }; then
            verdict=OVER
            worst=1
        fi
        printf '%-34s %-10s %10.1f %12.1f %8.2f %s (exit %d)\n' "$name" "${run%% *}" \
            "$(echo "$peak / 1048576" | bc -l)" "$(echo "$budget / 1048576" | bc -l)" \
            "$seconds" "$verdict" "$status"
    done
done
exit $worst
