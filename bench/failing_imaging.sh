#!/usr/bin/env bash
# Imaging a failing disk: `restorix image` against GNU ddrescue, both reading
# the same 1 GiB volume through a FUSE file (tests/support/failing_fuse.py)
# whose reads fail with EIO over 60 scattered bad ranges of 1 to 4,000
# sectors. Prints the time of each, the sectors each rescued, how far their
# maps agree on the bad sectors, and the ratios.
#   bench/failing_imaging.sh [WORK_DIR]   (default: a temporary folder; needs ~3 GiB)
set -euo pipefail
. "$(dirname "$0")/lib.sh"
need ddrescue gddrescue
need fusermount3 fuse3
/usr/bin/python3 -c 'import fusepy' 2>/dev/null || need false python3-fusepy
[ -c /dev/fuse ] || { echo "no /dev/fuse here: cannot mount the failing file" >&2; exit 1; }
fuse="$work/mnt"; fuse_pid=""
cleanup() {
  if mountpoint -q "$fuse" 2>/dev/null; then fusermount3 -u "$fuse" || umount -l "$fuse"; fi
  [ -z "$fuse_pid" ] || wait "$fuse_pid" 2>/dev/null || true
  rm -rf "$work"/volume.img "$work"/rx.qni* "$work"/dd.img "$work"/dd.map "$fuse"
  drop_work
}
trap cleanup EXIT

head -c 1G /dev/urandom >"$work/volume.img"
mkfs.fat -F 32 -s 8 "$work/volume.img" >/dev/null
sectors=$((1 << 21))
# The bad ranges, the same on every run (awk's fixed seed), past the boot
# sector and apart from each other.
mapfile -t bad < <(awk -v n="$sectors" 'BEGIN {
  srand(17)
  for (i = 0; i < 60; i++) {
    len = (i % 4 == 0) ? 1 + int(rand() * 4000) : 1 + int(rand() * 40)
    printf "%d:%d\n", 64 + int(i * (n - 8192) / 60 + rand() * 20000), len
  }
}')
args=()
for range in "${bad[@]}"; do args+=(--bad "$range"); done
mkdir -p "$fuse"
/usr/bin/python3 tests/support/failing_fuse.py "$work/volume.img" "$fuse" "${args[@]}" \
  >"$work/fuse.log" 2>&1 &
fuse_pid=$!
for _ in $(seq 100); do [ -e "$fuse/disk.img" ] && break; sleep 0.1; done
[ -e "$fuse/disk.img" ] || { echo "the failing file did not mount:" >&2; cat "$work/fuse.log" >&2; exit 1; }
cat "$fuse/disk.img" >/dev/null 2>&1 || true  # warm the backing file's cache

rx_time=$(seconds "$restorix" image "$fuse/disk.img" "$work/rx.qni" --json)
dd_time=$(seconds ddrescue -q -b 512 "$fuse/disk.img" "$work/dd.img" "$work/dd.map")

expected=$(printf '%s\n' "${bad[@]}" | awk -F: '{ for (s = $1; s < $1 + $2; s++) print s }' |
  sort -un | wc -l)
# (comm wants the lists in the order sort gives them)
ddrescuelog --list-blocks=- -b 512 "$work/rx.qni.map" | sort >"$work/rx.bad"
ddrescuelog --list-blocks=- -b 512 "$work/dd.map" | sort >"$work/dd.bad"
rx_bad=$(wc -l <"$work/rx.bad"); dd_bad=$(wc -l <"$work/dd.bad")
both=$(comm -12 "$work/rx.bad" "$work/dd.bad" | wc -l)
either=$(sort -mu "$work/rx.bad" "$work/dd.bad" | wc -l)
# FAT32 leaves a few sectors past the volume that restorix does not image.
rx_volume=$(ddrescuelog -t "$work/rx.qni.map" >/dev/null && "$restorix" info --json "$work/volume.img" |
  /usr/bin/python3 -c 'import json, sys; print(json.load(sys.stdin)["totalSectors"])')
rm -f "$work/rx.bad" "$work/dd.bad"
# The image is the volume rounded up to whole blocks; only the volume counts.
cmp -n $((rx_volume * 512)) "$work/rx.qni" "$work/dd.img" >/dev/null && same=yes || same=no
awk -v rt="$rx_time" -v dt="$dd_time" -v n="$sectors" -v v="$rx_volume" -v e="$expected" -v rb="$rx_bad" \
    -v db="$dd_bad" -v b="$both" -v u="$either" -v same="$same" 'BEGIN {
  printf "volume: 1 GiB (%d sectors), %d bad sectors in 60 ranges, read through FUSE\n", n, e
  printf "sectors compared: the FAT32 volume'"'"'s %d (what restorix images)\n", v
  printf "restorix image:  %7.2f s  rescued %d sectors, %d bad\n", rt, v - rb, rb
  printf "ddrescue:        %7.2f s  rescued %d sectors, %d bad\n", dt, v - db, db
  printf "ratio time restorix/ddrescue:      %.2f\n", rt / dt
  printf "ratio rescued restorix/ddrescue:   %.6f\n", (v - rb) / (v - db)
  printf "map agreement (bad in both / bad in either): %.6f\n", (u ? b / u : 1)
  printf "images identical over the volume: %s\n", same
}'
