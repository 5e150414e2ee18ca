#!/usr/bin/env bash
# NTFS recovery throughput: `restorix recover` of about 1 GiB of deleted
# files, half in a compressed folder (LZNT1, compressible text) and half
# plain (random bytes), against The Sleuth Kit's `icat` of the same MFT
# records, one call per file, in the same run, with the page cache warm.
# Prints the MB/s of each and the ratio of the times (restorix/icat), then
# checks that restorix wrote, file for file, the bytes icat wrote (sha256).
#   bench/ntfs_recover.sh [WORK_DIR]   (default: a temporary folder; needs
#                                       ~2.5 GiB there)
# The volume (a 2 GiB sparse file, 4 KiB clusters, ~0.8 GiB used) is built
# once, as root (mkntfs, ntfs-3g mount), and kept in
# ${RESTORIX_BENCH_CACHE:-/var/tmp/restorix-bench}; later runs reuse it.
# RUNS=N sets the number of timed rounds (default 3).
set -euo pipefail
. "$(dirname "$0")/lib.sh"
runs=${RUNS:-3}
volume="$cache/ntfs-recover-v1.img"
need icat sleuthkit
need python3 python3

cleanup() {
  unmount_ntfs
  rm -rf "$cache/ntfs-recover.tmp" "$work/restorix" "$work/icat" "$work/scan.json" "$work/recover.json"
  drop_work
}
trap cleanup EXIT

# The Windows attributes of a file on the mounted volume, as hex digits.
windows_attributes() {
  getfattr -n system.ntfs_attrib_be -e hex "$1" 2>/dev/null | sed -n 's/.*=0x//p'
}

build_volume() {
  [ "$(id -u)" -eq 0 ] || { echo "building the NTFS volume needs root (FUSE mount); run once as root" >&2; exit 1; }
  need mkntfs ntfs-3g
  need setfattr attr
  echo "Building the NTFS volume in $cache (once) ..." >&2
  local start tmp="$cache/ntfs-recover.tmp" attrib
  start=$(date +%s)
  rm -f "$tmp"; truncate -s 2G "$tmp"
  mkntfs -F -q -f -c 4096 -L recoverbench "$tmp" >/dev/null 2>&1 ||
    { echo "mkntfs failed on $tmp" >&2; exit 1; }
  mount_ntfs "$tmp" compression
  mkdir "$mnt/plain" "$mnt/packed"
  # Mark "packed" compressed (FILE_ATTRIBUTE_COMPRESSED, 0x800): files made
  # in it afterwards are written compressed by ntfs-3g.
  attrib=$(windows_attributes "$mnt/packed")
  setfattr -n system.ntfs_attrib_be -v "$(printf '0x%08x' $(( 0x$attrib | 0x800 )))" "$mnt/packed"
  # About 512 MiB in each folder, in files of 10-50 MiB (sizes not a whole
  # number of clusters): random bytes in "plain", text made of pseudo-words
  # in "packed" (compresses about 2:1 with LZNT1).
  python3 - "$mnt" <<'EOF'
import os, random, sys
root = sys.argv[1]
rng = random.Random(2026)
syllables = ["ka", "ro", "ti", "men", "sor", "al", "ex", "qu", "dra", "ne",
             "vo", "lis", "ter", "pha", "un", "gi", "bel", "o", "cas", "wy"]
words = ["".join(rng.choices(syllables, k=rng.randint(1, 4))) for _ in range(4000)]
lines, length = [], 0
while length < 8 << 20:
    line = " ".join(rng.choices(words, k=rng.randint(4, 16))) + ".\n"
    lines.append(line); length += len(line)
pool = "".join(lines).encode()

def write(path, size, chunk):
    fd = os.open(path, os.O_CREAT | os.O_EXCL | os.O_WRONLY, 0o644)
    while size:
        data = chunk(min(size, 1 << 20)); os.write(fd, data); size -= len(data)
    os.close(fd)

def text(n):
    start = rng.randrange(len(pool) - n)
    return pool[start:start + n]

for folder, name, chunk in (("plain", "p{:02d}.bin", rng.randbytes), ("packed", "c{:02d}.txt", text)):
    total, k = 0, 0
    while total < 512 << 20:
        size = rng.randint(10 << 20, 50 << 20) + rng.randint(1, 4095)
        write(f"{root}/{folder}/{name.format(k)}", size, chunk)
        total += size; k += 1
EOF
  (( 0x$(windows_attributes "$mnt/packed/c00.txt") & 0x800 )) ||
    { echo "ntfs-3g did not compress the files in packed/ (mounted with -o compression?)" >&2; exit 1; }
  echo "on the volume: $(du -sh --apparent-size "$mnt" | cut -f1) of files, $(du -sh "$mnt" | cut -f1) allocated" >&2
  rm -r "$mnt/plain" "$mnt/packed"
  unmount_ntfs
  mv "$tmp" "$volume"
  echo "built in $(( $(date +%s) - start )) s" >&2
}
[ -f "$volume" ] || build_volume

cat "$volume" >/dev/null  # warm the page cache
"$restorix" scan "$volume" --json >"$work/scan.json"
mapfile -t ids < <(python3 -c '
import json, sys
for item in json.load(sys.stdin)["items"]:
    if not item["folder"]:
        print(item["id"])
' <"$work/scan.json")
[ ${#ids[@]} -gt 0 ] || { echo "restorix found no deleted files on $volume" >&2; exit 1; }

recover_all() {
  "$restorix" recover "$volume" --to "$work/restorix" --json >"$work/recover.json"
}
icat_all() {
  local id
  for id in "${ids[@]}"; do icat "$volume" "$id" >"$work/icat/$id"; done
}

# One timed run of "$@"; the outputs of the previous run are removed and
# flushed beforehand, outside the timing, so each run starts from the same
# state.
timed() {
  rm -rf "$work/restorix" "$work/icat"; mkdir "$work/restorix" "$work/icat"; sync
  seconds "$@"
}

# Interleaved, best of $runs each.
icat_t=""; rx=""
for _ in $(seq "$runs"); do
  t=$(timed recover_all) || exit 1; rx=$(best "$t" "$rx")
  t=$(timed icat_all) || exit 1; icat_t=$(best "$t" "$icat_t")
done
recover_all  # the last round left icat's files only; the check needs both

# File for file: what restorix wrote against icat's output for the same
# record. A file is found by its path in the run folder; a file whose name
# is gone from the volume (restorix writes it, renamed, into an orphans
# folder) by its content among the files not claimed by a path. Files that
# differ are listed on stderr with both sizes.
python3 - "$work" <<'EOF' >"$work/summary"
import hashlib, json, os, sys
work = sys.argv[1]
recovered = json.load(open(f"{work}/recover.json"))
run_folder = recovered["runFolder"]
def digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        while block := f.read(1 << 22):
            h.update(block)
    return h.hexdigest()
written = set()
for folder, _, names in os.walk(run_folder):
    written.update(os.path.join(folder, name) for name in names)
files = mismatches = by_content = icat_bytes = 0
nameless = []
for item in json.load(open(f"{work}/scan.json"))["items"]:
    if item["folder"]:
        continue
    files += 1
    theirs = f"{work}/icat/{item['id']}"
    icat_bytes += os.path.getsize(theirs)
    mine = os.path.join(run_folder, item["path"])
    if not item["name"] or mine not in written:
        nameless.append((item, theirs))
        continue
    written.discard(mine)
    if digest(mine) != digest(theirs):
        mismatches += 1
        print(f"differs: record {item['id']} {item['path']}: restorix {os.path.getsize(mine)} bytes,"
              f" icat {os.path.getsize(theirs)}", file=sys.stderr)
unclaimed = {}
for path in written:
    unclaimed.setdefault(digest(path), []).append(path)
for item, theirs in nameless:
    by_content += 1
    if unclaimed.get(digest(theirs)):
        unclaimed[digest(theirs)].pop()
    else:
        mismatches += 1
        print(f"differs: record {item['id']} (no name): no file of restorix has icat's"
              f" {os.path.getsize(theirs)} bytes", file=sys.stderr)
print(files, recovered["files"], recovered["bytes"], icat_bytes, mismatches, by_content)
EOF
read -r files rx_files rx_bytes icat_bytes mismatches by_content <"$work/summary"
rm -f "$work/summary"

awk -v f="$files" -v rf="$rx_files" -v rb="$rx_bytes" -v ib="$icat_bytes" -v m="$mismatches" -v bc="$by_content" \
    -v r="$rx" -v i="$icat_t" -v runs="$runs" 'BEGIN {
  printf "deleted files: %d (restorix recovered %d, %.1f MiB; icat %.1f MiB) (best of %d)\n",
         f, rf, rb / 1048576, ib / 1048576, runs
  printf "icat, one call per file: %.3f s  (%.0f MB/s)\n", i, ib / 1e6 / i
  printf "restorix recover:        %.3f s  (%.0f MB/s)\n", r, rb / 1e6 / r
  printf "ratio restorix/icat:     %.2f\n", r / i
  printf "files that differ from icat (sha256): %d of %d (%d without a name, matched by content)\n", m, f, bc
}'
