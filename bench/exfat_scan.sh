#!/usr/bin/env bash
# exFAT scan speed: `restorix scan` of a 64 GiB camera-card image (mkfs.exfat
# defaults: 128 KiB clusters) holding 100,000 files in 100 DCIM-style
# folders, every second one deleted, against The Sleuth Kit's `fls -r -d`,
# with the page cache warm; then what the recoverability verdict adds to
# that scan (bench/verdict_bench; target at most 10%).
#   bench/exfat_scan.sh [WORK_DIR]   (default: a temporary folder)
# The image is built once (as root: mkfs.exfat, exfat-fuse over a loop
# device, several minutes) and kept in ${RESTORIX_BENCH_CACHE:-/var/tmp/
# restorix-bench} (a sparse file of which ~0.5 GiB is written); later runs
# reuse it. RUNS=N sets the number of timed rounds of restorix (default 5),
# FLS_RUNS=N those of fls (default 1: it takes about a minute a run).
set -euo pipefail
. "$(dirname "$0")/lib.sh"
runs=${RUNS:-5}
image="$cache/exfat-card-100k-v1.img"
verdict_bench=${VERDICT_BENCH:-build/release/bench/verdict_bench}
[ -x "$verdict_bench" ] ||
  { echo "build first: cmake --build --preset release --target verdict_bench" >&2; exit 1; }
need fls sleuthkit
need mkfs.exfat exfatprogs
need mount.exfat-fuse exfat-fuse
need python3 python3

mnt="$work/mnt"
loop=""
cleanup() {
  mountpoint -q "$mnt" 2>/dev/null && umount "$mnt"
  [ -z "$loop" ] || losetup -d "$loop"
  rm -f "$cache"/exfat-card-100k-*.tmp
  drop_work
}
trap cleanup EXIT

build_image() {
  [ "$(id -u)" -eq 0 ] || { echo "building the exFAT image needs root (loop device, FUSE)" >&2; exit 1; }
  echo "Building the exFAT image in $cache (once) ..." >&2
  local start tmp="$cache/exfat-card-100k-v1.tmp"
  start=$(date +%s)
  rm -f "$tmp"; truncate -s 64G "$tmp"
  mkfs.exfat -L BENCH "$tmp" >/dev/null
  mkdir -p "$mnt"
  loop=$(losetup -f --show "$tmp")
  mount.exfat-fuse -o noatime "$loop" "$mnt"
  # 100 folders of 1000 photos of 1-3000 bytes, then every second one
  # deleted. Names are camera names: IMG_0001.JPG ...
  python3 - "$mnt" <<'PY'
import os, sys
root = sys.argv[1]
text = b"Restorix exFAT scan bench. " * 120
for d in range(100):
    folder = f"{root}/DCIM/{100 + d:03d}CANON"
    os.makedirs(folder)
    for n in range(1000):
        with open(f"{folder}/IMG_{n + 1:04d}.JPG", "wb") as f:
            f.write(text[(n + d) % 27:][:1 + (n * 37 + d) % 3000])
for d in range(100):
    folder = f"{root}/DCIM/{100 + d:03d}CANON"
    for n in range(0, 1000, 2):
        os.unlink(f"{folder}/IMG_{n + 1:04d}.JPG")
PY
  umount "$mnt"
  losetup -d "$loop"; loop=""
  mv "$tmp" "$image"
  echo "built in $(( $(date +%s) - start )) s" >&2
}
[ -f "$image" ] || build_image

# Warm the page cache with the bytes the tools read (the image is sparse).
"$restorix" scan "$image" --json >"$work/scan.json"
deleted=$(python3 -c 'import json,sys; print(json.load(sys.stdin)["totals"]["files"])' <"$work/scan.json")

timed() { seconds "$@" 2>/dev/null; }
rx=""; fls_t=""
for _ in $(seq "$runs"); do
  rx=$(best "$(timed "$restorix" scan "$image" --json)" "$rx")
done
# fls takes about a minute a run here: FLS_RUNS of them (default 1).
list_deleted() { fls -r -d "$image" >"$work/fls.txt"; }
for _ in $(seq "${FLS_RUNS:-1}"); do
  fls_t=$(best "$(timed list_deleted)" "$fls_t")
done
fls_deleted=$(grep -c '^r/r' "$work/fls.txt")
verdict=$("$verdict_bench" "$image" $((runs * 4)))

awk -v d="$deleted" -v fd="$fls_deleted" -v r="$rx" -v f="$fls_t" -v runs="$runs" 'BEGIN {
  printf "exFAT 64 GiB image, 100,000 files, deleted files: restorix %d, fls %d (best of %d)\n", d, fd, runs
  printf "restorix scan --json: %.3f s  (%.0f deleted files/s)\n", r, d / r
  printf "fls -r -d:            %.3f s\n", f
  printf "ratio restorix/fls:   %.4f  (target < 1)\n", r / f
}'
echo "verdict: $verdict"
