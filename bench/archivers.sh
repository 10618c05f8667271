#!/usr/bin/env bash
# vorland-cli beside the archivers people already use, on one tree of many
# small files and a few large ones, in one run: list, extract, pack and mount
# against tar, bsdtar, unzip, 7z, unsquashfs, mksquashfs, squashfuse and
# fuse-zip. Every row runs its programs in turns, RUNS times (median taken);
# whatever writes files writes onto a fresh ext4 file system each time, so
# that no run inherits another's deleted inodes. Ratio = Vorland / the best
# peer: below 1 is better.
#   bench/archivers.sh [SCALE [BUILD_DIR]]
# SCALE 1 is 200,000 files in 2,040 folders, about 1.1 GiB; 0.1 is a tenth.
# Needs root (it installs the peers, and mounts) and about 4 GiB + 3 x the
# tree of memory under /dev/shm; WORK moves that.
set -euo pipefail
cd "$(dirname "$0")/.."
scale="${1:-1}"
build="$(realpath "${2:-build}")"
runs="${RUNS:-5}"
cli="$build/bin/vorland-cli"
work="${WORK:-/dev/shm/vorland-archivers}"
[[ -x "$cli" ]] || { echo "archivers.sh: build first: $cli is missing" >&2; exit 1; }
[[ $EUID -eq 0 ]] || { echo "archivers.sh: needs root to mount file systems" >&2; exit 1; }

peers=(tar bsdtar unzip zip 7z mksquashfs unsquashfs squashfuse_ll fuse-zip zstd mkfs.ext4)
missing=0
for p in "${peers[@]}"; do command -v "$p" >/dev/null || missing=1; done
if ((missing)); then
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
        tar libarchive-tools unzip zip p7zip-full squashfs-tools squashfuse fuse-zip zstd \
        e2fsprogs fuse3 >/dev/null
fi

mnt="$work/mnt" out="$work/out" tree="$work/tree" results="$work/results"
cleanup() {
    for m in "$mnt" "$out"; do mountpoint -q "$m" 2>/dev/null && umount -l "$m"; done
    rm -rf "$work/out.img"
}
trap cleanup EXIT
mkdir -p "$work" "$mnt" "$out"
: >"$results"

# The tree: 40 folders of 50 each; 93% of files under 4 KiB, the rest
# under 32 KiB, and six of 10 to 256 MiB; about 55% text, 45% random bytes.
if [[ ! -f "$work/tree.done" || "$(cat "$work/tree.done")" != "$scale" ]]; then
    rm -rf "$tree" "$work"/a.* "$work/tree.done"
    python3 - "$tree" "$scale" <<'EOF'
import os, random, sys
root, scale = sys.argv[1], float(sys.argv[2])
rng = random.Random(25)
words = ("the of and to in is that for it as with was on be by this are from at or an "
         "texture model mesh shader light shadow sound music level script object value "
         "player camera render frame vertex index normal colour alpha width height").split()
def text(n):
    out, size = [], 0
    while size < n:
        line = " ".join(rng.choice(words) for _ in range(rng.randint(4, 14)))
        line = f"{rng.choice(words)}_{rng.randint(0, 999)} = {line}\n"
        out.append(line); size += len(line)
    return "".join(out).encode()[:n]
pool_text = text(16 << 20)
pool_rand = rng.randbytes(16 << 20)
def piece(n):
    pool = pool_text if rng.random() < 0.55 else pool_rand
    at = rng.randrange(len(pool) - n) if n < len(pool) else 0
    return pool[at:at + n]
folders = [os.path.join(root, f"group{g:02d}", f"set{s:02d}") for g in range(40) for s in range(50)]
for f in folders:
    os.makedirs(f)
files = int(200000 * scale)
for i in range(files):
    n = rng.randint(64, 4095) if i % 14 else rng.randint(8192, 32767)
    name = os.path.join(folders[i % len(folders)], f"file{i:06d}." + rng.choice(["ini", "txt", "dat", "csv", "bin"]))
    with open(name, "wb") as f:
        f.write(piece(n))
for k, mib in enumerate([256, 128, 64, 32, 16, 10]):
    size = max(1 << 20, int(mib * scale) << 20)
    with open(os.path.join(root, "group00", f"large{k}.{'txt' if k % 2 else 'bin'}"), "wb") as f:
        for _ in range(0, size, 1 << 20):
            f.write(piece(1 << 20) if k % 2 else rng.randbytes(1 << 20))
EOF
    echo "$scale" >"$work/tree.done"
fi
big=group00/large0.bin
files=$(find "$tree" -type f | wc -l)
folders=$(find "$tree" -mindepth 1 -type d | wc -l)
treemib=$(du -sm --apparent-size "$tree" | cut -f1)

# The archives every reading row starts from.
[[ -f "$work/a.big" ]] || "$cli" pack -q -o "$work/a.big" "$tree"
[[ -f "$work/a.tar" ]] || tar -cf "$work/a.tar" -C "$tree" .
[[ -f "$work/a.zip" ]] || (cd "$tree" && zip -q -0 -r "$work/a.zip" .)
[[ -f "$work/a.sqfs" ]] || mksquashfs "$tree" "$work/a.sqfs" -noI -noD -noF -noX -no-xattrs \
    -quiet -no-progress >/dev/null

fresh_fs() {
    mountpoint -q "$out" && umount "$out"
    rm -f "$work/out.img"
    truncate -s $((4096 + 3 * treemib))M "$work/out.img"
    mkfs.ext4 -q -F -E lazy_itable_init=1,lazy_journal_init=1 "$work/out.img"
    mount -o loop "$work/out.img" "$out"
}

# record ROW TOOL SECONDS [MEGABYTES] [RSS_MIB]
record() { echo "$1|$2|$3|${4:-}|${5:-}" >>"$results"; }

# timed ROW TOOL COMMAND...: its wall time and peak memory.
timed() {
    local row=$1 tool=$2
    shift 2
    local t0 t1
    t0=$EPOCHREALTIME
    /usr/bin/time -f %M -o "$work/rss" "$@" >/dev/null 2>"$work/stderr" ||
        { echo "archivers.sh: $tool failed in \"$row\": $(tail -1 "$work/stderr")" >&2; exit 1; }
    t1=$EPOCHREALTIME
    record "$row" "$tool" "$(bc <<<"$t1 - $t0")" "" "$(( $(tail -1 "$work/rss") / 1024 ))"
}

# The pid of the FUSE server serving $mnt.
server() { pgrep -n -f -- " $mnt\$" || pgrep -n -f -- "$mnt"; }

# mounted TOOL COMMAND...: mounts with COMMAND (which returns once mounted
# or keeps going), then times the mount rows, each on a fresh mount.
mounted() {
    local tool=$1
    shift
    local t0 t1
    mount_it() {
        "$@" >/dev/null 2>&1 &
        until mountpoint -q "$mnt" && ls "$mnt" >/dev/null 2>&1; do :; done
    }
    t0=$EPOCHREALTIME
    mount_it "$@"
    t1=$EPOCHREALTIME
    record "mount: usable" "$tool" "$(bc <<<"$t1 - $t0")"
    t0=$EPOCHREALTIME
    ls -lR "$mnt" >/dev/null
    t1=$EPOCHREALTIME
    record "mount: ls -lR" "$tool" "$(bc <<<"$t1 - $t0")"
    umount "$mnt"; wait
    mount_it "$@"
    t0=$EPOCHREALTIME
    cat "$mnt/$big" >/dev/null
    t1=$EPOCHREALTIME
    record "mount: largest file" "$tool" "$(bc <<<"$t1 - $t0")"
    umount "$mnt"; wait
    mount_it "$@"
    t0=$EPOCHREALTIME
    find "$mnt/" -type f -size -1M -print0 | xargs -0 -P8 -n 1000 cat >/dev/null
    t1=$EPOCHREALTIME
    record "mount: 8 readers" "$tool" "$(bc <<<"$t1 - $t0")"
    umount "$mnt"; wait
    mount_it "$@"
    t0=$EPOCHREALTIME
    grep -r -q zzzz-nowhere "$mnt/" || true
    t1=$EPOCHREALTIME
    record "mount: grep -r" "$tool" "$(bc <<<"$t1 - $t0")"
    record "mount: memory after grep -r" "$tool" 0 "" \
        "$(awk '/VmRSS/ { printf "%.1f", $2 / 1024 }' "/proc/$(server)/status")"
    umount "$mnt"; wait
}

echo "tree: $files files in $folders folders, $treemib MiB; $runs runs" >&2
for ((run = 1; run <= runs; ++run)); do
    echo "run $run of $runs" >&2
    timed "list" vorland "$cli" list "$work/a.big"
    timed "list" "unsquashfs -l" unsquashfs -l "$work/a.sqfs"
    timed "list" "tar -tf" tar -tf "$work/a.tar"
    timed "list --long" vorland "$cli" list --long "$work/a.big"
    timed "list --long" "unzip -l" unzip -l "$work/a.zip"
    timed "list --long" "7z l" 7z l "$work/a.zip"

    for tool in vorland unsquashfs tar bsdtar unzip; do
        fresh_fs
        case $tool in
        vorland) timed "extract everything" $tool "$cli" extract -q "$work/a.big" -o "$out/x" ;;
        unsquashfs) timed "extract everything" $tool unsquashfs -q -n -d "$out/x" "$work/a.sqfs" ;;
        tar) mkdir "$out/x" && timed "extract everything" $tool tar -xf "$work/a.tar" -C "$out/x" ;;
        bsdtar) mkdir "$out/x" && timed "extract everything" $tool bsdtar -xf "$work/a.tar" -C "$out/x" ;;
        unzip) timed "extract everything" $tool unzip -q "$work/a.zip" -d "$out/x" ;;
        esac
    done
    for tool in vorland unsquashfs; do
        fresh_fs
        case $tool in
        vorland) timed "extract the largest entry" $tool "$cli" extract -q "$work/a.big" "${big//\//\\}" -o "$out/x" ;;
        unsquashfs) timed "extract the largest entry" $tool unsquashfs -q -n -d "$out/x" "$work/a.sqfs" "$big" ;;
        esac
    done

    for tool in vorland "tar -cf" mksquashfs; do
        fresh_fs
        case $tool in
        vorland) timed "pack, stored" "$tool" "$cli" pack -q -o "$out/a.big" "$tree" ;;
        "tar -cf") timed "pack, stored" "$tool" tar -cf "$out/a.tar" -C "$tree" . ;;
        mksquashfs) timed "pack, stored" "$tool" mksquashfs "$tree" "$out/a.sqfs" -noI -noD -noF -noX \
            -no-xattrs -quiet -no-progress ;;
        esac
    done
    for tool in vorland "tar, zstd -1"; do
        fresh_fs
        case $tool in
        vorland) timed "pack --compress, level 1, 2 threads" "$tool" "$cli" pack -q --compress --level 1 \
            --threads 2 -o "$out/a.out" "$tree" ;;
        *) timed "pack --compress, level 1, 2 threads" "$tool" tar -I "zstd -1 -T2" -cf "$out/a.out" -C "$tree" . ;;
        esac
        sed -i "\$s/|[^|]*|\([^|]*\)\$/|$(( $(stat -c %s "$out/a.out") / 1000000 ))|\1/" "$results"
    done
    for tool in vorland "mksquashfs gzip"; do
        fresh_fs
        case $tool in
        vorland) timed "pack --compress, level 2" "$tool" "$cli" pack -q --compress -o "$out/a.out" "$tree" ;;
        *) timed "pack --compress, level 2" "$tool" mksquashfs "$tree" "$out/a.out" -comp gzip -no-xattrs \
            -quiet -no-progress ;;
        esac
        sed -i "\$s/|[^|]*|\([^|]*\)\$/|$(( $(stat -c %s "$out/a.out") / 1000000 ))|\1/" "$results"
    done
    mountpoint -q "$out" && umount "$out"

    mounted vorland "$cli" mount -f "$work/a.big" "$mnt"
    mounted squashfuse_ll squashfuse_ll -f "$work/a.sqfs" "$mnt"
    mounted fuse-zip fuse-zip -f -r "$work/a.zip" "$mnt"
done

python3 - "$results" "$files" "$folders" "$treemib" "$runs" <<'EOF'
import statistics, sys
path, files, folders, mib, runs = sys.argv[1:]
rows = {}
for line in open(path):
    row, tool, sec, mb, rss = line.rstrip("\n").split("|")
    rows.setdefault(row, {}).setdefault(tool, []).append((float(sec), mb, rss))
print(f"{int(files):,} files in {int(folders):,} folders, {mib} MiB; medians of {runs} runs, "
      "in turns. Ratio = Vorland / best peer.\n")
print(f"{'work':<36} {'Vorland':>30}  {'best peer':<40} {'ratio':>6}")
others = []
for row, tools in rows.items():
    memory = row.startswith("mount: memory")
    def figure(tool):
        runs = tools[tool]
        if memory:
            value = statistics.median(float(r[2]) for r in runs)
            return value, f"{value:.1f} MiB"
        sec = statistics.median(r[0] for r in runs)
        text = f"{sec:.3f} s"
        if runs[0][1]:
            text += (f", {statistics.median(int(r[1]) for r in runs)} MB, "
                     f"{statistics.median(int(r[2]) for r in runs)} MiB RSS")
        return sec, text
    ours, ours_text = figure("vorland")
    peers = sorted((figure(t) + (t,) for t in tools if t != "vorland"), key=lambda p: p[0])
    best = peers[0]
    ratio = ours / best[0] if best[0] > 0 else float("inf")
    print(f"{row:<36} {ours_text:>30}  {best[2] + ' ' + best[1]:<40} {ratio:6.2f}")
    others += [f"  {row}: {t} {text}" for _, text, t in peers[1:]]
print("\nThe other peers:")
print("\n".join(others))
EOF
