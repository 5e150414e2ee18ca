#!/usr/bin/env bash
# Imaging throughput: `restorix image` of a 1 GiB volume image against `cp`
# of the same file, in the same run, with the page cache warm. Prints the
# ratio of the times (target: at most 1.2). Both write into the page cache;
# the flush to disk is outside the timing.
#   bench/imaging.sh [WORK_DIR]   (default: a temporary folder; needs ~3 GiB)
set -euo pipefail
. "$(dirname "$0")/lib.sh"
trap 'rm -f "$work"/volume.img "$work"/copy.img "$work"/image.qni "$work"/image.qni.map; drop_work' EXIT

# Random data under a FAT32 boot sector: every byte is real (no sparse holes
# for cp to skip), and the volume is recognised.
head -c 1G /dev/urandom >"$work/volume.img"
mkfs.fat -F 32 -s 8 "$work/volume.img" >/dev/null
cat "$work/volume.img" >/dev/null  # warm the page cache

# One timed run of "$@"; the written file is flushed and removed afterwards,
# outside the timing, so each run starts from the same state.
timed() {
  rm -f "$work/copy.img" "$work/image.qni" "$work/image.qni.map"; sync
  seconds "$@"
}

# Interleaved, best of five each, so that disk writeback hits both alike.
cp_time=""; rx_time=""
for _ in 1 2 3 4 5; do
  t=$(timed cp "$work/volume.img" "$work/copy.img") || exit 1
  cp_time=$(best "$t" "$cp_time")
  t=$(timed "$restorix" image "$work/volume.img" "$work/image.qni") || exit 1
  rx_time=$(best "$t" "$rx_time")
done
awk -v c="$cp_time" -v r="$rx_time" 'BEGIN {
  printf "volume: 1 GiB\ncp:               %.3f s  (%.0f MB/s)\n", c, 1024 / c
  printf "restorix image:   %.3f s  (%.0f MB/s)\n", r, 1024 / r
  printf "ratio restorix/cp: %.2f  (target <= 1.20)\n", r / c
}'
