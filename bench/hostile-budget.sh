#!/usr/bin/env bash
# Runs every file of the hostile corpus through vorland-cli as the hostile
# test does, under /usr/bin/time, and prints each run's peak memory and
# time beside the budget: for the verbs a person runs, 64 MiB plus twice what
# the file's bytes can legitimately decode to (a Refp stream at most 257
# times its length, deflate 1032 times), and 2 s; for what runs on files no
# person chose (the thumbnailer, render of a picture, the TPI plug-in read
# by a plain Qt program), 256 MiB and 1 s whatever the file. Then the same
# for inputs made here at full size, each a known way to make work out of
# few bytes, against 256 MiB and 1 s: TPI blocks that unpack 14 MiB and fail
# (56 MB), a PNG of one column of 16,777,216 rows, 3,000 entries sharing one
# stream of 16 MiB, a 4 MB archive compressed whole that unpacks to 1 GiB
# (test may keep that once), a 1.37 GB archive of stored entries
# (sparse; its test may take what reading it takes), and 24 readers at once
# of the mount, against its cache and an allowance.
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
# measure NAME BUDGET LIMIT PROGRAM ARGUMENTS...: one run, one line.
measure() {
    local name=$1 budget=$2 limit=$3 program=$4
    shift 4
    set +e
    /usr/bin/time -f '%M %e' -o "$out/time" "$program" "$@" >/dev/null 2>&1
    local status=$?
    set -e
    local kib seconds
    read -r kib seconds < <(tail -n 1 "$out/time")
    local peak=$((kib * 1024)) verdict=ok
    if [ "$peak" -gt "$budget" ] || [ "$(echo "$seconds > $limit" | bc)" = 1 ] ||
        { [ "$status" -gt 1 ] && [ "$program" = "$cli" ]; }; then
        verdict=OVER
        worst=1
    fi
    local verb=$1
    [[ ${2:-} == --* ]] && verb="$1 $2"
    [ "$program" = "$cli" ] || verb=plug-in
    printf '%-34s %-10s %10.1f %12.1f %8.2f %s (exit %d)\n' "$name" "$verb" \
        "$(echo "$peak / 1048576" | bc -l)" "$(echo "$budget / 1048576" | bc -l)" \
        "$seconds" "$verdict" "$status"
}

for file in tests/data/hostile/*; do
    name=$(basename "$file")
    bytes=$(stat -c %s "$file")
    case "$name" in
    *.png) expansion=1032 ;;
    *) expansion=257 ;;
    esac
    case "$name" in
    *.big) runs=("info --json $file" "list $file" "test --pictures $file" "extract $file -o $out/x"
        "thumbnail $file $out/t.png") ;;
    *.refp) runs=("decompress $file $out/out.bin") ;;
    *.tpi) runs=("render $file -o $out/out.png" "thumbnail $file $out/t.png" "plug-in $file") ;;
    *.png | *.tga) runs=("render $file -o $out/out.png" "thumbnail $file $out/t.png") ;;
    *) continue ;;
    esac
    for run in "${runs[@]}"; do
        rm -rf "$out/x" "$out/out.bin" "$out/out.png" "$out/t.png"
        budget=$(( (64 << 20) + 2 * bytes * expansion ))
        limit=2
        case "$run" in
        thumbnail* | render* | plug-in*) budget=$((256 << 20)) limit=1 ;;
        esac
        # shellcheck disable=SC2086
        if [ "${run%% *}" = plug-in ]; then
            measure "$name" "$budget" "$limit" "$build/bin/tpiread" "$file"
        else
            measure "$name" "$budget" "$limit" "$cli" $run
        fi
    done
done

# The full-size rows, made here.
made="$out/made"
mkdir -p "$made"
python3 - "$made" <<'PY'
import struct, sys, zlib
made = sys.argv[1]
def png_column(rows):
    raw = b"\0\x10\x20\x30\xff" * rows
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 1, rows, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))
open(made + "/column-16777216.png", "wb").write(png_column(16777216))
# A block of 65535 x 56 pixels of zeros, to be compressed by vorland-cli.
open(made + "/block.raw", "wb").write(bytes([0x7D, 0, 0, 0]) + struct.pack("<HH", 65535, 56)
                                      + bytes(8) + bytes(65535 * 56 * 4))
open(made + "/zeros-16m", "wb").write(bytes(16 << 20))
# 1.37 GB of stored entries, sparse.
size, count = 700 << 20, 2
names = [b"a.bin", b"b.bin"]
start = 16 + sum(9 + len(n) for n in names)
directory = b"".join(struct.pack(">II", start + i * size, size) + n + b"\0" for i, n in enumerate(names))
with open(made + "/stored-1.37gb.big", "wb") as f:
    f.write(b"BIGF" + struct.pack("<I", start + count * size) + struct.pack(">II", count, start) + directory)
    f.truncate(start + count * size)
# 1 GiB of archive of zeros, sparse, to be compressed whole: one large
# entry, and one at the end, whose header info and list --long must reach.
one = 1 << 30
start = 16 + 2 * (9 + 5)
with open(made + "/whole.raw", "wb") as f:
    f.write(b"BIGF" + struct.pack("<I", start + one) + struct.pack(">II", 2, start)
            + struct.pack(">II", start, one - 16) + b"z.bin\0"
            + struct.pack(">II", start + one - 16, 16) + b"t.bin\0")
    f.truncate(start + one)
PY
"$cli" compress --level 1 "$made/block.raw" "$made/block.refp" 2>/dev/null
"$cli" compress --level 1 "$made/zeros-16m" "$made/zeros.refp" 2>/dev/null
"$cli" compress --level 1 "$made/whole.raw" "$made/whole-1gib.big" 2>/dev/null
rm -f "$made/block.raw" "$made/zeros-16m" "$made/whole.raw"
python3 - "$made" <<'PY'
import struct, sys
made = sys.argv[1]
block = bytearray(open(made + "/block.refp", "rb").read())
block[-1] = 0xE0 # its stop command, damaged
count = 56000000 // (len(block) + 4)
tpi = b"1IPT8888Refp" + struct.pack("<HHHH", 64, 64, count, 0)
open(made + "/failing-blocks-56mb.tpi", "wb").write(
    tpi + b"".join(struct.pack("<I", len(block)) + bytes(block) for _ in range(count)))
stream = open(made + "/zeros.refp", "rb").read()
names = [b"e%04d.ini" % i for i in range(3000)]
start = 16 + sum(9 + len(n) for n in names)
directory = b"".join(struct.pack(">II", start, len(stream)) + n + b"\0" for n in names)
open(made + "/shared-stream-3000.big", "wb").write(
    b"BIGF" + struct.pack("<I", start + len(stream)) + struct.pack(">II", 3000, start)
    + directory + stream)
PY
fixed=$((256 << 20))
measure failing-blocks-56mb.tpi $fixed 1 "$cli" thumbnail "$made/failing-blocks-56mb.tpi" "$out/t.png"
measure failing-blocks-56mb.tpi $fixed 1 "$build/bin/tpiread" "$made/failing-blocks-56mb.tpi"
measure column-16777216.png $fixed 1 "$cli" thumbnail "$made/column-16777216.png" "$out/t.png"
measure shared-stream-3000.big $fixed 1 "$cli" test "$made/shared-stream-3000.big"
# list needs the directory alone, info and list --long a pass over the
# image for the entries' headers; test keeps the unpacked archive,
# once; reading 1.37 GB takes what the disk takes, memory is the budget.
measure whole-1gib.big $fixed 1 "$cli" list "$made/whole-1gib.big"
measure whole-1gib.big $fixed 1 "$cli" list --long "$made/whole-1gib.big"
measure whole-1gib.big $fixed 1 "$cli" info "$made/whole-1gib.big"
measure whole-1gib.big $(((1 << 30) + fixed)) 2 "$cli" test "$made/whole-1gib.big"
measure stored-1.37gb.big $fixed 10 "$cli" test "$made/stored-1.37gb.big"

# The mount: 24 readers at once of 24 entries of 24 MiB, Refp-compressed
# with their stored size close to the unpacked one. Its peak is the 256 MiB
# cache and an allowance of 64 MiB for the rest; a reader the cache cannot
# serve yet gets ENOMEM, as README says.
if [ -e /dev/fuse ] && command -v fusermount3 >/dev/null; then
    python3 - "$made" <<'PY'
import os, struct, sys
made = sys.argv[1]
size = 24 << 20
data = os.urandom(size)
stream = bytearray(b"\x90\xFB" + struct.pack(">I", size))
for at in range(0, size, 112):
    run = data[at:at + 112]
    stream += bytes([0xE0 + len(run) // 4 - 1]) + run
stream += b"\xFC"
names = [b"r%02d.bin" % i for i in range(24)]
start = 16 + sum(9 + len(n) for n in names)
directory = b"".join(struct.pack(">II", start + i * len(stream), len(stream)) + n + b"\0"
                     for i, n in enumerate(names))
with open(made + "/readers-24.big", "wb") as f:
    f.write(b"BIGF" + struct.pack("<I", start + 24 * len(stream)) + struct.pack(">II", 24, start)
            + directory)
    for _ in names:
        f.write(stream)
PY
    mnt="$out/mnt"
    mkdir -p "$mnt"
    "$cli" mount -f "$made/readers-24.big" "$mnt" 2>/dev/null &
    server=$!
    for _ in $(seq 100); do mountpoint -q "$mnt" && break; sleep 0.1; done
    started=$(date +%s.%N)
    for i in $(seq -w 0 23); do
        { cat "$mnt/r$i.bin" >/dev/null 2>&1 && touch "$out/read-$i"; } &
    done
    wait_readers() { for job in $(jobs -p); do [ "$job" = "$server" ] || wait "$job" || true; done; }
    wait_readers
    seconds=$(echo "$(date +%s.%N) - $started" | bc)
    kib=$(awk '/VmHWM/ { print $2 }' "/proc/$server/status")
    fusermount3 -u "$mnt"
    wait "$server" || true
    budget=$(((256 + 64) << 20))
    verdict=ok
    [ $((kib * 1024)) -gt "$budget" ] && { verdict=OVER; worst=1; }
    whole=$(find "$out" -maxdepth 1 -name 'read-*' | wc -l)
    printf '%-34s %-10s %10.1f %12.1f %8.2f %s (%d of 24 read whole)\n' readers-24.big "mount" \
        "$(echo "$kib / 1024" | bc -l)" "$(echo "$budget / 1048576" | bc -l)" "$seconds" \
        "$verdict" "$whole"

    # Names taken again and again: 200,000 entries of one path, and beside
    # it an archive whose folder "a" and files "a~1" ... "a~100000" hold
    # every name they could move to. Each mount returns once its tree is
    # built; the server is not in the peak.
    python3 - "$made" <<'PY'
import struct, sys
made = sys.argv[1]
def big(name, paths):
    start = 16 + sum(9 + len(p) for p in paths)
    directory = b"".join(struct.pack(">II", start, 1) + p + b"\0" for p in paths)
    open(made + "/" + name, "wb").write(
        b"BIGF" + struct.pack("<I", start + 1) + struct.pack(">II", len(paths), start)
        + directory + b"x")
big("taken-200000.big", [b"a"] * 200000)
big("suffixes-100000.big", [b"a\\b"] + [b"a~%d" % i for i in range(1, 100001)])
PY
    for run in "taken-200000.big" "suffixes-100000.big taken-200000.big"; do
        archives=()
        for name in $run; do archives+=("$made/$name"); done
        measure "${run// /+}" $fixed 1 "$cli" mount "${archives[@]}" "$mnt"
        fusermount3 -u "$mnt" 2>/dev/null || true
    done
fi
exit $worst
