#!/usr/bin/env bash
# NTFS scan speed: `restorix scan` of a volume with more than 200,000 MFT
# records, half of them deleted files, against The Sleuth Kit's `fls -r -d`,
# ntfs-3g's `ntfsundelete --scan` and a bare `dd` of the $MFT's bytes, in the
# same run, with the page cache warm. Prints records per second and the
# ratios of the times (targets: restorix/fls < 1, restorix/ntfsundelete < 1,
# restorix/bare read <= 2), then restorix's peak memory on this volume and on
# one with the same MFT but only ~1% of the files deleted: memory follows
# what is found, not the size of the MFT.
#   bench/ntfs_scan.sh [WORK_DIR]   (default: a temporary folder)
# The volumes are built once (as root: mkntfs, ntfs-3g mount, ~1-2 minutes)
# and kept in ${RESTORIX_BENCH_CACHE:-/var/tmp/restorix-bench} (~0.5 GiB
# of a 2 GiB sparse file each); later runs reuse them. RUNS=N sets the
# number of timed rounds (default 5).
set -euo pipefail
. "$(dirname "$0")/lib.sh"
runs=${RUNS:-5}
half="$cache/ntfs-scan-half-v1.img"   # 200,000 files, every second one deleted
few="$cache/ntfs-scan-few-v1.img"     # the same files, 1 in 100 deleted
need fls sleuthkit
need ntfsundelete ntfs-3g
need python3 python3
[ -x /usr/bin/time ] || need /usr/bin/time time

cleanup() {
  unmount_ntfs
  rm -f "$cache"/ntfs-scan-*.tmp "$work/scan.json" "$work/peak"
  drop_work
}
trap cleanup EXIT

# Deletes, in every folder, the files whose number n satisfies n % MOD == REST.
delete_files() {  # delete_files MOD REST
  python3 - "$mnt" "$1" "$2" <<'EOF'
import os, sys
root, mod, rest = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for top in sorted(os.listdir(root)):
    if not top.startswith("t"):
        continue
    for sub in sorted(os.listdir(f"{root}/{top}")):
        for n in range(100):
            if n % mod == rest:
                os.unlink(f"{root}/{top}/{sub}/f{n:03d}.txt")
EOF
}

build_volumes() {
  [ "$(id -u)" -eq 0 ] || { echo "building the NTFS volumes needs root (FUSE mount); run once as root" >&2; exit 1; }
  need mkntfs ntfs-3g
  echo "Building the NTFS volumes in $cache (once) ..." >&2
  local start base="$cache/ntfs-scan-base.tmp"
  start=$(date +%s)
  rm -f "$base"; truncate -s 2G "$base"
  mkntfs -F -q -f -c 4096 -L scanbench "$base" >/dev/null 2>&1 ||
    { echo "mkntfs failed on $base" >&2; exit 1; }
  mount_ntfs "$base"
  # 40 x 50 folders of 100 files each, written by one process. Most files
  # are 1-600 bytes (resident in their MFT record); every 16th has 6000
  # bytes and so a data run. No empty files: restorix leaves those out, and
  # the count of deleted files should match the other tools.
  python3 - "$mnt" <<'EOF'
import os, sys
root = sys.argv[1]
text = (b"Restorix NTFS scan bench. " * 300)
for t in range(40):
    os.mkdir(f"{root}/t{t:02d}")
    for d in range(50):
        folder = f"{root}/t{t:02d}/d{d:02d}"
        os.mkdir(folder)
        for n in range(100):
            size = 6000 if n % 16 == 15 else 1 + (n * 53 + t + d) % 600
            fd = os.open(f"{folder}/f{n:03d}.txt", os.O_CREAT | os.O_EXCL | os.O_WRONLY, 0o644)
            if size:
                os.write(fd, text[(n + d) % 64:][:size])
            os.close(fd)
EOF
  unmount_ntfs
  cp --sparse=always "$base" "$cache/ntfs-scan-few.tmp"
  mount_ntfs "$base"; delete_files 2 1; unmount_ntfs
  mount_ntfs "$cache/ntfs-scan-few.tmp"; delete_files 100 7; unmount_ntfs
  mv "$base" "$half"
  mv "$cache/ntfs-scan-few.tmp" "$few"
  echo "built in $(( $(date +%s) - start )) s" >&2
}
[ -f "$half" ] && [ -f "$few" ] || build_volumes

# Geometry: the MFT's runs in bytes, and its record count.
info=$("$restorix" info "$half" --json)
records=$(python3 -c 'import json,sys; print(json.load(sys.stdin)["mftRecordCount"])' <<<"$info")
mapfile -t mft_ranges < <(python3 -c '
import json, sys
g = json.load(sys.stdin)
cluster = g["bytesPerSector"] * g["sectorsPerCluster"]
for run in g["mftRuns"]:
    print(run["startCluster"] * cluster, run["clusterCount"] * cluster)
' <<<"$info")
mft_bytes=$(for range in "${mft_ranges[@]}"; do echo "$range"; done | awk '{s += $2} END {print s}')
read_mft() {
  local range
  for range in "${mft_ranges[@]}"; do
    set -- $range
    dd if="$half" of=/dev/null bs=8M iflag=skip_bytes,count_bytes skip="$1" count="$2" status=none
  done
}

cat "$half" "$few" >/dev/null  # warm the page cache
"$restorix" scan "$half" --json >"$work/scan.json"
deleted=$(python3 -c 'import json,sys; print(json.load(sys.stdin)["totals"]["files"])' <"$work/scan.json")

# One timed run of "$@", its output thrown away.
timed() { seconds "$@" 2>/dev/null; }

# Each command once, untimed, so that a failing tool stops the script here.
for command in "$restorix scan $half" "fls -r -d $half" "ntfsundelete --scan --force $half"; do
  $command >/dev/null 2>"$work/peak" || { echo "failed: $command" >&2; cat "$work/peak" >&2; exit 1; }
done

# Interleaved, best of $runs each. The text listing of `restorix scan` is
# timed too: it shows what the JSON document (built whole, then printed)
# adds on top of the scan itself.
rx=""; rx_text=""; fls_t=""; und=""; bare=""
for _ in $(seq "$runs"); do
  rx=$(best "$(timed "$restorix" scan "$half" --json)" "$rx")
  rx_text=$(best "$(timed "$restorix" scan "$half")" "$rx_text")
  fls_t=$(best "$(timed fls -r -d "$half")" "$fls_t")
  und=$(best "$(timed ntfsundelete --scan --force "$half")" "$und")
  bare=$(best "$(timed read_mft)" "$bare")
done

# Peak memory (KiB): many deleted files against few, same MFT.
peak() { /usr/bin/time -f %M -o "$work/peak" "$restorix" scan "$1" --json >"$work/scan.json"; cat "$work/peak"; }
mem_half=$(peak "$half")
mem_few=$(peak "$few")
deleted_few=$(python3 -c 'import json,sys; print(json.load(sys.stdin)["totals"]["files"])' <"$work/scan.json")
/usr/bin/time -f %M -o "$work/peak" "$restorix" scan "$half" >/dev/null
mem_text=$(cat "$work/peak")

awk -v n="$records" -v d="$deleted" -v r="$rx" -v rt="$rx_text" -v mt="$mem_text" -v f="$fls_t" -v u="$und" -v b="$bare" \
    -v mb="$mft_bytes" -v mh="$mem_half" -v mf="$mem_few" -v df="$deleted_few" -v runs="$runs" 'BEGIN {
  printf "MFT records: %d, deleted files found by restorix: %d (best of %d)\n", n, d, runs
  printf "restorix scan:         %.3f s  (%.0f records/s)\n", r, n / r
  printf "  (text output:        %.3f s, %.2f x the bare read, peak %.1f MiB)\n", rt, rt / b, mt / 1024
  printf "fls -r -d:             %.3f s\n", f
  printf "ntfsundelete --scan:   %.3f s\n", u
  printf "bare read of the MFT:  %.3f s  (%.0f MB in %.0f MB/s)\n", b, mb / 1e6, mb / 1e6 / b
  printf "ratio restorix/fls:          %.2f  (target < 1)\n", r / f
  printf "ratio restorix/ntfsundelete: %.2f  (target < 1)\n", r / u
  printf "ratio restorix/bare read:    %.2f  (target <= 2)\n", r / b
  printf "restorix scan --json peak memory: %.1f MiB with %d deleted files found\n", mh / 1024, d
  printf "                                  %.1f MiB with %d (same %d-record MFT)\n", mf / 1024, df, n
}'
