#!/usr/bin/env bash
# Volume search speed: `restorix partitions --search` over a whole-disk image
# against a plain sequential read of it (dd), in the same run, with the page
# cache warm. Prints the ratio of the times (target: at most 1.2), and, where
# TestDisk is installed, the time of its own search of the same image.
# The image is random bytes (so that chance 55 AA endings are met at their
# natural rate) holding a FAT32 and an NTFS volume with no partition table.
#   bench/volume_search.sh [WORK_DIR]   (SIZE_GIB=4 by default; the image is
#   kept in the cache folder between runs)
set -euo pipefail
. "$(dirname "$0")/lib.sh"
trap 'drop_work' EXIT
need mkfs.fat dosfstools
need mkntfs ntfs-3g
size_gib=${SIZE_GIB:-4}
image=$cache/lost-volumes-${size_gib}g.img

if [ ! -f "$image" ]; then
  echo "making a ${size_gib} GiB disk image in $cache (once)" >&2
  head -c "${size_gib}G" /dev/urandom >"$image.part"
  truncate -s 512M "$work/fat.img" "$work/ntfs.img"
  mkfs.fat -F 32 -n LOSTFAT --invariant "$work/fat.img" >/dev/null
  mkntfs -Q -F -q -L LOSTNTFS "$work/ntfs.img" 2>/dev/null
  # FAT32 at 1 MiB, NTFS half way through; nothing says where either is.
  dd if="$work/fat.img" of="$image.part" bs=1M seek=1 conv=notrunc,sparse status=none
  dd if="$work/ntfs.img" of="$image.part" bs=1M seek=$((size_gib * 512)) conv=notrunc,sparse \
    status=none
  dd if=/dev/zero of="$image.part" bs=512 count=1 conv=notrunc status=none
  rm -f "$work/fat.img" "$work/ntfs.img"
  mv "$image.part" "$image"
fi

found=$("$restorix" partitions "$image" --search --json |
  python3 -c 'import json,sys; print(len(json.load(sys.stdin)["volumes"]))')
[ "$found" = 2 ] || { echo "expected 2 volumes, the search found $found" >&2; exit 1; }
cat "$image" >/dev/null  # warm the page cache

# Interleaved, best of three each.
dd_time=""; rx_time=""
for _ in 1 2 3; do
  t=$(seconds dd if="$image" of=/dev/null bs=4M status=none) || exit 1
  dd_time=$(best "$t" "$dd_time")
  t=$(seconds "$restorix" partitions "$image" --search) || exit 1
  rx_time=$(best "$t" "$rx_time")
done
mib=$((size_gib * 1024))
awk -v d="$dd_time" -v r="$rx_time" -v m="$mib" 'BEGIN {
  printf "image: %d MiB, 2 volumes found\n", m
  printf "dd (sequential read):      %.3f s  (%.0f MB/s)\n", d, m / d
  printf "restorix partitions --search: %.3f s  (%.0f MB/s)\n", r, m / r
  printf "ratio restorix/dd: %.2f  (target <= 1.20)\n", r / d
}'
if command -v testdisk >/dev/null && [ -z "${NO_TESTDISK:-}" ]; then
  cd "$work"  # testdisk writes its log here
  t=$(seconds timeout 3600 testdisk /log /cmd "$image" analyze,search) || t=""
  [ -n "$t" ] && awk -v t="$t" -v r="$rx_time" 'BEGIN {
    printf "testdisk analyze,search:   %.3f s  (ratio restorix/testdisk %.2f)\n", t, r / t }'
fi
