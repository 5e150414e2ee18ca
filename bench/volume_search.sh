#!/usr/bin/env bash
# Volume search speed: `restorix partitions --search` over a whole-disk image
# against a plain sequential read of it (dd), in the same run, with the page
# cache warm. Prints the ratio of the times (target: at most 1.2), and, where
# TestDisk is installed, the time of its own quick search of the same image
# (testdisk /cmd IMG analyze,search) and whether it finds the same volumes.
# The image is random bytes (so that chance 55 AA endings are met at their
# natural rate) holding a FAT32, an NTFS and an exFAT volume with no
# partition table.
#   bench/volume_search.sh [WORK_DIR]   (SIZE_GIB=4 by default; the image is
#   kept in the cache folder between runs)
set -euo pipefail
. "$(dirname "$0")/lib.sh"
trap 'drop_work' EXIT
need mkfs.fat dosfstools
need mkntfs ntfs-3g
need mkfs.exfat exfatprogs
size_gib=${SIZE_GIB:-4}
image=$cache/lost-volumes3-${size_gib}g.img

if [ ! -f "$image" ]; then
  echo "making a ${size_gib} GiB disk image in $cache (once)" >&2
  head -c "${size_gib}G" /dev/urandom >"$image.part"
  truncate -s 512M "$work/fat.img" "$work/ntfs.img" "$work/exfat.img"
  mkfs.fat -F 32 -n LOSTFAT --invariant "$work/fat.img" >/dev/null
  mkntfs -Q -F -q -L LOSTNTFS "$work/ntfs.img" 2>/dev/null
  mkfs.exfat -L LOSTEXFAT "$work/exfat.img" >/dev/null
  # FAT32 at 1 MiB, NTFS half way through, exFAT three quarters in; nothing
  # says where any of them is.
  dd if="$work/fat.img" of="$image.part" bs=1M seek=1 conv=notrunc,sparse status=none
  dd if="$work/ntfs.img" of="$image.part" bs=1M seek=$((size_gib * 512)) conv=notrunc,sparse \
    status=none
  dd if="$work/exfat.img" of="$image.part" bs=1M seek=$((size_gib * 768)) conv=notrunc,sparse \
    status=none
  dd if=/dev/zero of="$image.part" bs=512 count=1 conv=notrunc status=none
  rm -f "$work/fat.img" "$work/ntfs.img" "$work/exfat.img"
  mv "$image.part" "$image"
fi

# start file-system label, one line a volume
"$restorix" partitions "$image" --search --json | python3 -c '
import json, sys
for v in json.load(sys.stdin)["volumes"]:
    print(v["start"], v["fileSystem"], v["label"])' >"$work/restorix.found"
found=$(wc -l <"$work/restorix.found")
[ "$found" = 3 ] || { echo "expected 3 volumes, the search found $found" >&2; exit 1; }
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
  printf "image: %d MiB, 3 volumes found\n", m
  printf "dd (sequential read):      %.3f s  (%.0f MB/s)\n", d, m / d
  printf "restorix partitions --search: %.3f s  (%.0f MB/s)\n", r, m / r
  printf "ratio restorix/dd: %.2f  (target <= 1.20)\n", r / d
}'
if command -v testdisk >/dev/null && [ -z "${NO_TESTDISK:-}" ]; then
  cd "$work"  # testdisk writes its log here
  rm -f testdisk.log
  t=$(seconds timeout 3600 testdisk /log /cmd "$image" analyze,search) || t=""
  [ -n "$t" ] && awk -v t="$t" -v r="$rx_time" 'BEGIN {
    printf "testdisk analyze,search:   %.3f s  (ratio restorix/testdisk %.2f)\n", t, r / t }'
  # The partitions of TestDisk'"'"'s last listing, their CHS starts turned into
  # sectors with the geometry it gives the disk.
  python3 - testdisk.log restorix.found <<'PY'
import re, sys
log = open(sys.argv[1], errors="replace").read().splitlines()
heads, sectors = 255, 63
for line in log:
    m = re.search(r"CHS \d+ (\d+) (\d+)", line)
    if m: heads, sectors = int(m.group(1)), int(m.group(2))
last = max((i for i, line in enumerate(log) if line.startswith("interface_write()")), default=-1)
found = []
row = re.compile(r"^\s*\d+ [*PLED] (.+?)\s+(\d+)\s+(\d+)\s+(\d+)\s+\d+\s+\d+\s+\d+\s+\d+(?: \[(.*)\])?")
for line in log[last + 1:]:
    m = row.match(line)
    if not m: continue
    c, h, s = int(m.group(2)), int(m.group(3)), int(m.group(4))
    found.append(f"{(c * heads + h) * sectors + s - 1} {m.group(1).split()[-1]} {m.group(5) or ''}".strip())
ours = [line.strip() for line in open(sys.argv[2])]
print("testdisk found:  " + "; ".join(found))
print("restorix found:  " + "; ".join(ours))
starts = lambda rows: sorted(int(r.split()[0]) for r in rows)
print("same volumes (by start): " + ("yes" if starts(found) == starts(ours) else "no"))
PY
fi
