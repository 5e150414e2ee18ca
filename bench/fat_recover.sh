#!/usr/bin/env bash
# FAT32 recovery throughput: `restorix recover` of about 2 GiB of deleted
# files (unfragmented, so both tools read every byte) against The Sleuth
# Kit's `icat` of the same directory entries, one call per file, in the same
# run, with the page cache warm. Prints the MB/s of each and the ratio of
# the times (target: at most 1.5), and checks that every file restorix wrote
# has the bytes icat wrote.
#   bench/fat_recover.sh [WORK_DIR]   (default: a temporary folder; needs ~4.5 GiB)
# The volume is built once with mkfs.fat and mtools (no root needed) and kept
# in ${RESTORIX_BENCH_CACHE:-/var/tmp/restorix-bench}. RUNS=N sets the number
# of timed rounds (default 3).
set -euo pipefail
. "$(dirname "$0")/lib.sh"
runs=${RUNS:-3}
need icat sleuthkit
need mcopy mtools
need mkfs.fat dosfstools
need openssl openssl
volume="$cache/fat32-recover-v1.img"
trap 'rm -rf "$work/restorix" "$work/icat" "$work/files"; drop_work' EXIT

if [ ! -e "$volume" ]; then
  echo "Building $volume (2.5 GiB FAT32, 2 GiB of files, then deleted) ..." >&2
  start=$(date +%s)
  truncate -s 2600M "$volume.tmp"
  mkfs.fat -F 32 -s 64 "$volume.tmp" >/dev/null
  mkdir -p "$work/files"
  for i in $(seq 0 63); do  # 64 files of 32 MiB, pseudo-random bytes
    head -c $((32 << 20)) /dev/zero |
      openssl enc -aes-128-ctr -K 000102030405060708090a0b0c0d0e0f -iv "$(printf '%032x' "$i")" \
        -nopad 2>/dev/null >"$work/files/file-$i.bin"
  done
  MTOOLS_SKIP_CHECK=1 mmd -i "$volume.tmp" ::data
  MTOOLS_SKIP_CHECK=1 mcopy -i "$volume.tmp" "$work/files"/* ::data/
  MTOOLS_SKIP_CHECK=1 mdel -i "$volume.tmp" '::data/*'
  rm -rf "$work/files"
  mv "$volume.tmp" "$volume"
  echo "built in $(( $(date +%s) - start )) s" >&2
fi

# The deleted files as TSK lists them: "r/r * 12345:	data/_ILE-0.BIN"
mapfile -t entries < <(fls -r -d -p "$volume" | awk -F'\t' '/^r\/r \*/ {split($1, a, " "); sub(":", "", a[3]); print a[3] "\t" $2}')
[ ${#entries[@]} -gt 0 ] || { echo "no deleted files found by fls" >&2; exit 1; }
cat "$volume" >/dev/null

icat_all() {
  mkdir -p "$work/icat"
  for entry in "${entries[@]}"; do icat "$volume" "${entry%%$'\t'*}" >"$work/icat/${entry%%$'\t'*}"; done
}
rx_time=""; icat_time=""
for _ in $(seq "$runs"); do
  rm -rf "$work/restorix" "$work/icat"; mkdir -p "$work/restorix"; sync
  t=$(seconds "$restorix" recover "$volume" --to "$work/restorix" --json) || exit 1
  rx_time=$(best "$t" "$rx_time")
  sync
  t=$(seconds icat_all) || exit 1
  icat_time=$(best "$t" "$icat_time")
done

# Same bytes, file for file (restorix names deleted 8.3 entries with an X
# where the first letter was, TSK with an underscore: compare by content).
mismatch=0
for f in "$work/icat"/*; do
  want=$(sha256sum <"$f" | cut -c1-64)
  found=$(find "$work/restorix" -type f -size "$(stat -c %s "$f")c" -exec sha256sum {} + | cut -c1-64 | grep -c "$want" || true)
  [ "$found" -ge 1 ] || mismatch=$((mismatch + 1))
done
bytes=$(du -sb "$work/icat" | cut -f1)
awk -v r="$rx_time" -v i="$icat_time" -v b="$bytes" -v n="${#entries[@]}" -v m="$mismatch" 'BEGIN {
  mb = b / 1048576
  printf "deleted files: %d, %.0f MiB (best of runs)\n", n, mb
  printf "icat, one call per file: %.3f s  (%.0f MB/s)\n", i, mb / i
  printf "restorix recover:        %.3f s  (%.0f MB/s)\n", r, mb / r
  printf "ratio restorix/icat:     %.2f  (target <= 1.5)\n", r / i
  printf "files whose bytes differ from icat: %d\n", m
}'
