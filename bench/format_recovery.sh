#!/usr/bin/env bash
# Format Recovery after a quick format: a 256 MiB FAT32 volume gets a tree of
# folders with long names holding every file of the carving corpus
# (tests/fixtures/carving), then mkfs.fat formats it again with the same
# geometry. Prints, for `restorix recover --mode format`, `tsk_recover -e`
# and PhotoRec, how many of the files written each gets back whole (the same
# bytes, under any name) and whole under their own names, and the time each
# takes, with `cat` of the image as the read limit, in the same run.
#   bench/format_recovery.sh [WORK_DIR]
set -euo pipefail
. "$(dirname "$0")/lib.sh"
need photorec testdisk
need tsk_recover sleuthkit
need mcopy mtools
need mkfs.fat dosfstools
trap drop_work EXIT

image="$work/formatted.img"
tree="$work/tree"
rm -rf "$tree" "$image"
mkdir -p "$tree"
# The corpus files in nested folders, some under long names.
python3 - tests/fixtures/carving "$tree" <<'PY'
import os, shutil, sys
corpus, tree = sys.argv[1], sys.argv[2]
folders = ["Holiday photos 2024/Day one", "Holiday photos 2024/Day two", "Work documents",
           "Work documents/Old versions", "Music and sounds", "Video clips", "Archives"]
names = sorted(n for n in os.listdir(corpus)
               if not n.endswith((".sh", ".py", ".tsv")))
for i, name in enumerate(names):
    folder = os.path.join(tree, folders[i % len(folders)])
    os.makedirs(folder, exist_ok=True)
    base, ext = os.path.splitext(name)
    target = name if i % 2 else "%s copy number %d kept for later%s" % (base, i, ext)
    shutil.copy(os.path.join(corpus, name), os.path.join(folder, target))
PY
# Filler where no file was written: the card had a life before.
head -c 256M /dev/urandom >"$image"
mkfs.fat -F 32 -n OLD "$image" >/dev/null
export MTOOLS_SKIP_CHECK=1
(cd "$tree" && find . -mindepth 1 -type d | sort | sed 's|^\./||' |
  while read -r d; do mmd -i "$image" "::$d"; done
 find . -type f | sort | sed 's|^\./||' | while read -r f; do mcopy -i "$image" "$f" "::$f"; done)
mkfs.fat -F 32 -n NEW "$image" >/dev/null
files=$(find "$tree" -type f | wc -l)

# How many files of the tree OUT holds whole, and whole under their names
# (an 8.3 name is stored in capitals: names are compared ignoring case).
count() {  # count OUT
  python3 - "$tree" "$1" <<'PY'
import hashlib, os, sys
def sums(top):
    for folder, _, names in os.walk(top):
        for n in names:
            with open(os.path.join(folder, n), "rb") as f:
                yield n.lower(), hashlib.sha256(f.read()).hexdigest()
found = set(sums(sys.argv[2]))
sums_found = {s for _, s in found}
written = list(sums(sys.argv[1]))
print(sum(s in sums_found for _, s in written), sum((n, s) in found for n, s in written))
PY
}

cat "$image" >/dev/null  # the page cache warm for everyone
cat_s=$(seconds cat "$image")
rm -rf "$work/restorix"
restorix_s=$(seconds "$restorix" recover "$image" --mode format --to "$work/restorix")
scan_s=$(seconds "$restorix" scan "$image" --mode format)
rm -rf "$work/tsk"
tsk_s=$(seconds tsk_recover -e "$image" "$work/tsk")
rm -rf "$work/photorec" && mkdir -p "$work/photorec"
photorec_s=$(seconds sh -c "cd '$work/photorec' && photorec /log /d '$work/photorec/recup' /cmd '$image' partition_none,options,paranoid,search")

echo "Quick-formatted FAT32 volume, 256 MiB, $files files written in $(find "$tree" -mindepth 1 -type d | wc -l) folders"
printf '%-28s %8s %8s %8s\n' tool seconds whole named
printf '%-28s %8.2f %8s %8s\n' "cat (read limit)" "$cat_s" - -
printf '%-28s %8.2f %8s %8s\n' "restorix scan --mode format" "$scan_s" - -
read -r w n < <(count "$work/restorix")
printf '%-28s %8.2f %8s %8s\n' "restorix recover" "$restorix_s" "$w" "$n"
read -r w n < <(count "$work/tsk")
printf '%-28s %8.2f %8s %8s\n' "tsk_recover -e" "$tsk_s" "$w" "$n"
read -r w n < <(count "$work/photorec")
printf '%-28s %8.2f %8s %8s\n' "photorec" "$photorec_s" "$w" "$n"
