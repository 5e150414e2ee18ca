#!/usr/bin/env bash
# Format recovery of a quick-formatted NTFS volume: a 512 MiB volume (4 KiB
# clusters) that held a tree of nested folders with long names and about
# 1,500 files (resident text under 700 bytes, text of a few KB to a few MB,
# random binaries without any signature) is quick-formatted by `mkntfs -Q`.
# Prints, against the manifest of the tree before the format:
#   - files whole (byte-identical) and named (at their path) that
#     `restorix recover --mode format` writes under "Lost Folders",
#     `tsk_recover -e` writes, and PhotoRec carves (whole only: it names
#     nothing);
#   - the times of `restorix scan --mode format` (old-record pass plus a
#     signature search for one type; each reads the volume once), of
#     `restorix scan --mode deleted` (the MFT alone) and of a bare read of
#     the volume (dd, 4 MiB blocks), all with the page cache warm, and their
#     ratios to the bare read.
#   bench/ntfs_format.sh [WORK_DIR]
# The volume is built once, as root (mkntfs, ntfs-3g mount), and kept in
# ${RESTORIX_BENCH_CACHE:-/var/tmp/restorix-bench}. RUNS=N timed rounds
# (default 3).
set -euo pipefail
. "$(dirname "$0")/lib.sh"
runs=${RUNS:-3}
volume="$cache/ntfs-format-v1.img"
manifest="$cache/ntfs-format-v1.tsv"
need tsk_recover sleuthkit
need photorec testdisk
need python3 python3

cleanup() {
  unmount_ntfs
  rm -rf "$work/restorix" "$work/tsk" "$work/photorec"
  drop_work
}
trap cleanup EXIT

build_volume() {
  [ "$(id -u)" -eq 0 ] || { echo "building the NTFS volume needs root (FUSE mount); run once as root" >&2; exit 1; }
  need mkntfs ntfs-3g
  echo "Building the quick-formatted NTFS volume in $cache (once) ..." >&2
  local tmp="$volume.tmp"
  rm -f "$tmp"; truncate -s 512M "$tmp"
  mkntfs -F -Q -q -c 4096 -L before "$tmp" >/dev/null 2>&1
  mount_ntfs "$tmp"
  python3 - "$mnt" "$manifest.tmp" <<'EOF'
import hashlib, os, random, sys
root, manifest = sys.argv[1], sys.argv[2]
rng = random.Random(2026)
words = ("quarterly report holiday photos budget draft invoice archive meeting "
         "notes garden kitchen project review customer shipped pending").split()
def text(size):
    out, total, n = [], 0, 0
    while total < size:
        n += 1
        line = f"{n:07d} " + " ".join(rng.choice(words) for _ in range(10)) + "\n"
        out.append(line); total += len(line)
    return "".join(out).encode()[:size]
folders = [""]
for i in range(40):
    parent = rng.choice(folders)
    if parent.count("/") >= 4:
        parent = ""
    name = f"{rng.choice(words).capitalize()} folder with a long name {i:02d}"
    folders.append(f"{parent}/{name}".lstrip("/"))
lines = []
for i in range(1500):
    r = rng.random()
    if r < 0.35:
        data, ext = text(rng.randint(60, 690)), "txt"
    elif r < 0.80:
        data, ext = text(rng.randint(2000, 200000)), "txt"
    elif r < 0.90:
        data, ext = text(rng.randint(200000, 2000000)), "log"
    else:
        data, ext = rng.randbytes(rng.randint(5000, 1000000)), "bin"
    path = f"{rng.choice(folders)}/document number {i:04d} of the old tree.{ext}".lstrip("/")
    full = os.path.join(root, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "wb") as f:
        f.write(data)
    lines.append(f"{path}\t{len(data)}\t{hashlib.sha256(data).hexdigest()}")
open(manifest, "w", encoding="utf-8").write("\n".join(lines) + "\n")
EOF
  unmount_ntfs
  mkntfs -F -Q -q -c 4096 -L after "$tmp" >/dev/null 2>&1
  mv "$manifest.tmp" "$manifest"
  mv "$tmp" "$volume"
}
[ -s "$volume" ] && [ -s "$manifest" ] || build_volume

# How many manifest files FOLDER holds whole at their path, and whole
# anywhere (by content).
count() {  # count FOLDER
  python3 - "$1" "$manifest" <<'EOF'
import hashlib, os, sys
folder, manifest = sys.argv[1], sys.argv[2]
want = [line.rstrip("\n").split("\t") for line in open(manifest, encoding="utf-8")]
have = {}
for d, _, names in os.walk(folder):
    for n in names:
        p = os.path.join(d, n)
        have[os.path.relpath(p, folder)] = hashlib.sha256(open(p, "rb").read()).hexdigest()
contents = set(have.values())
named = sum(1 for path, _, sha in want if have.get(path) == sha)
whole = sum(1 for _, _, sha in want if sha in contents)
print(named, whole, len(want))
EOF
}

cat "$volume" >/dev/null  # warm the page cache
t_dd="" t_format="" t_deleted=""
for _ in $(seq "$runs"); do
  t_dd=$(best "$(seconds dd if="$volume" of=/dev/null bs=4M status=none)" "$t_dd")
  t_format=$(best "$(seconds "$restorix" scan "$volume" --mode format --types jpg)" "$t_format")
  t_deleted=$(best "$(seconds "$restorix" scan "$volume" --mode deleted)" "$t_deleted")
done

rm -rf "$work/restorix" "$work/tsk" "$work/photorec"
"$restorix" recover "$volume" --mode format --types jpg --select "Lost Folders" \
  --to "$work/restorix" >/dev/null
read -r r_named r_whole total < <(count "$(echo "$work"/restorix/*/"Lost Folders")")
tsk_recover -e "$volume" "$work/tsk" >/dev/null 2>&1 || true
read -r t_named t_whole _ < <(count "$work/tsk")
mkdir -p "$work/photorec"
t_photorec=$(seconds photorec /d "$work/photorec/out" /cmd "$volume" \
  partition_none,options,paranoid,fileopt,everything,enable,wholespace,search)
read -r _ p_whole _ < <(count "$work/photorec")

echo "Quick-formatted NTFS, 512 MiB, $total files in the old tree"
printf '  %-28s %8s %8s\n' "" "named" "whole"
printf '  %-28s %8s %8s\n' "restorix --mode format" "$r_named" "$r_whole"
printf '  %-28s %8s %8s\n' "tsk_recover -e" "$t_named" "$t_whole"
printf '  %-28s %8s %8s\n' "photorec (all types)" "-" "$p_whole"
echo "Times (best of $runs, warm cache), and ratio to the bare read:"
awk -v dd="$t_dd" -v f="$t_format" -v d="$t_deleted" -v p="$t_photorec" 'BEGIN {
  printf "  bare read (dd)                  %7.3f s\n", dd
  printf "  restorix scan --mode format     %7.3f s  %5.2fx\n", f, f / dd
  printf "  restorix scan --mode deleted    %7.3f s  %5.2fx\n", d, d / dd
  printf "  photorec (one run)              %7.3f s  %5.2fx\n", p, p / dd
}'
