#!/usr/bin/env bash
# Advanced File Recovery speed and yield: `restorix recover --mode advanced`
# (every known type) of a 4 GiB disk image against PhotoRec and foremost with
# comparable type sets, and against `cat` of the image (the read limit), in
# the same run, with the page cache warm. The image is pseudo-random filler
# with stretches of zeros and 20 copies of every file of the carving corpus
# (tests/fixtures/carving) and of the modern corpus (made by
# tests/fixtures/modern/make-modern.sh with today's tools, where they are
# installed) planted at sector boundaries, each followed by filler. Prints each tool's time and MB/s; the ratio of `restorix scan` (the
# search alone) to cat (target: <= 2, half the read speed); the ratios of
# `restorix recover` (search and writing the files, as the peers do) to
# PhotoRec and foremost (targets: < 1) and, for information, to cat; then per kind of
# corpus file how many planted copies each tool got back whole (a recovered
# file whose first bytes are exactly the planted file; in the totals also how
# many of them have no byte more), and restorix's peak
# memory on this image and on a 1 GiB one with the same planted files.
#   bench/carving.sh [WORK_DIR]   (default: a temporary folder; the recovered
#                                  files of the three tools take ~4.5 GB)
# The images (4 GiB and 1 GiB, ~15-30 s) are built once and kept in
# ${RESTORIX_BENCH_CACHE:-/var/tmp/restorix-bench}, named after the corpus
# manifests and this script's layout, so a changed corpus makes new ones.
# RUNS=N sets the number of timed rounds (default 3).
set -euo pipefail
. "$(dirname "$0")/lib.sh"
runs=${RUNS:-3}
corpus=tests/fixtures/carving
need photorec testdisk
need foremost foremost
need openssl openssl
need python3 python3
[ -x /usr/bin/time ] || need /usr/bin/time time

cleanup() {
  rm -rf "$cache"/carving-*.tmp "$work/restorix" "$work/photorec" "$work/foremost" "$work/peak"
  drop_work
}
trap cleanup EXIT

# The modern corpus, made once per version of its script.
modern="$cache/modern"
tests/fixtures/modern/make-modern.sh "$modern" >&2

# The layout below is part of the image's name: bump it when it changes.
layout=v2
key=$(cat "$corpus/manifest.tsv" "$modern/manifest.tsv" <(echo "$layout") | sha256sum | cut -c1-12)
big="$cache/carving-4g-$key.img"
small="$cache/carving-1g-$key.img"

# build_image GIB: AES-CTR of zeros under a fixed key as filler (fast and the
# same every time), then the corpus planted into it by a seeded layout. The
# first MiB stays zero (a blank disk start, no partition table). The image is
# cut into one slot per planted copy or zero stretch, in shuffled order; each
# lands at a random sector inside its slot and leaves at least 64 KiB of
# filler before the next slot. Offsets are random multiples of 512, so they
# share no larger alignment. Writes IMAGE.tsv: offset, length, name, sha256,
# kind of every planted copy (zero stretches have the name "-").
build_image() {  # build_image GIB PATH
  local gib=$1 path=$2 tmp="$cache/carving-$1g.tmp"
  rm -f "$tmp" "$tmp.tsv"
  head -c "$(( gib << 30 ))" /dev/zero |
    openssl enc -aes-128-ctr -nosalt -K 526573746f72697843617276696e6731 -iv 00000000000000000000000000000000 >"$tmp"
  python3 - "$tmp" "$gib" "$corpus" "$modern" <<'EOF'
import hashlib, os, random, sys
path, gib, folders = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
size, mib, sector, gap, copies = gib << 30, 1 << 20, 512, 64 << 10, 20
files = []
for corpus in folders:
    with open(f"{corpus}/manifest.tsv") as manifest:
        next(manifest)
        for line in manifest:
            name, length, sha, kind = line.rstrip("\n").split("\t")
            data = open(f"{corpus}/{name}", "rb").read()
            if len(data) != int(length) or hashlib.sha256(data).hexdigest() != sha:
                sys.exit(f"{corpus}/{name} does not match manifest.tsv")
            files.append((name, data, sha, kind))
rng = random.Random(0x5265 + gib)
entries = [("file", f) for f in files for _ in range(copies)]
entries += [("zeros", None)] * 24
rng.shuffle(entries)
slot = (size - mib) // len(entries) // sector * sector
largest = max(len(f[1]) for f in files)
assert slot >= largest + gap, "image too small for the corpus"
fd = os.open(path, os.O_WRONLY)
os.pwrite(fd, bytes(mib), 0)
with open(path + ".tsv", "w") as out:
    out.write("offset\tlength\tname\tsha256\tkind\n")
    for k, (what, f) in enumerate(entries):
        if what == "file":
            data, name, sha, kind = f[1], f[0], f[2], f[3]
        else:
            length = rng.randrange(16 << 10, min(4 * mib, slot // 2), sector)
            data, name, sha, kind = bytes(length), "-", "-", "zeros"
        room = (slot - len(data) - gap) // sector
        offset = mib + k * slot + rng.randrange(room + 1) * sector
        os.pwrite(fd, data, offset)
        out.write(f"{offset}\t{len(data)}\t{name}\t{sha}\t{kind}\n")
os.close(fd)
EOF
  mv "$tmp.tsv" "$path.tsv"
  mv "$tmp" "$path"
}
if [ ! -f "$big" ] || [ ! -f "$small" ]; then
  echo "Building the carving images in $cache (once) ..." >&2
  start=$(date +%s)
  rm -f "$cache"/carving-4g-*.img* "$cache"/carving-1g-*.img*  # older layouts
  build_image 4 "$big"
  build_image 1 "$small"
  echo "built in $(( $(date +%s) - start )) s" >&2
fi
image_mb=$(( $(stat -c %s "$big") / 1000000 ))

# The type sets. restorix: everything it knows. PhotoRec: its names for the
# same formats (tif also finds CR2 and NEF, riff WAVE and AVI, mov every ISO
# base media file, doc every compound document; it has no RTF of its own).
# foremost: its built-in types (ole: every compound document; no TIFF, MP3,
# MIDI, FLAC, Ogg, 7z, gzip, bzip2, xz or SQLite).
photorec_types=(jpg png gif bmp tif psd mp3 riff mid flac ogg mpg mov doc pdf ps zip 7z rar gz bz2 xz sqlite
                mkv asf)
foremost_types=jpg,gif,png,bmp,wav,avi,mpg,mov,mp4,wmv,ole,pdf,zip,rar
foremost_lacks=tiff-le,tiff-be,cr2,nef,midi,mp3,mp3-bare,mp3-22k,mp3-crc,7z,gz,sqlite,flac,ogg
foremost_lacks+=,webp,heic,avif,psd,oga,opus,webm,mkv
photorec_cmd="partition_none,options,paranoid,fileopt,everything,disable"
for type in "${photorec_types[@]}"; do photorec_cmd+=",$type,enable"; done
photorec_cmd+=",search"

rx_scan() { "$restorix" scan "$big" --mode advanced --json >/dev/null; }
rx_recover() { "$restorix" recover "$big" --mode advanced --to "$work/restorix" --json >/dev/null; }
# PhotoRec writes photorec.log into the current folder and its files into
# recup.1, recup.2, ... (500 files each).
pr_recover() { (cd "$work/photorec" && photorec /log /d "$work/photorec/recup" /cmd "$big" "$photorec_cmd" >/dev/null 2>&1); }
# foremost exits 0 even when it refuses its arguments; only then is there
# no audit.txt.
fm_recover() {
  foremost -Q -q -t "$foremost_types" -i "$big" -o "$work/foremost" >/dev/null 2>&1 &&
    [ -f "$work/foremost/audit.txt" ]
}
read_all() { cat "$big" >/dev/null; }

# One timed run of "$@" (a function above). The output folder of that tool
# is emptied and flushed beforehand, outside the timing; the last round's
# outputs stay for the check.
timed() {
  local out=""
  case $1 in
    rx_recover) out=restorix ;; pr_recover) out=photorec ;; fm_recover) out=foremost ;;
  esac
  if [ -n "$out" ]; then
    rm -rf "${work:?}/$out"; [ "$out" = foremost ] || mkdir "$work/$out"
  fi
  sync
  seconds "$@"
}

cat "$big" "$small" >/dev/null  # warm the page cache

# Interleaved, best of $runs each.
cat_t=""; scan_t=""; rx=""; pr=""; fm=""
for round in $(seq "$runs"); do
  t=$(timed read_all) || exit 1; cat_t=$(best "$t" "$cat_t")
  t=$(timed rx_scan) || exit 1; scan_t=$(best "$t" "$scan_t")
  t=$(timed rx_recover) || exit 1; rx=$(best "$t" "$rx")
  t=$(timed pr_recover) || exit 1; pr=$(best "$t" "$pr")
  t=$(timed fm_recover) || exit 1; fm=$(best "$t" "$fm")
  if [ "$round" = 1 ] && grep -q "Syntax error" "$work/photorec/photorec.log"; then
    echo "photorec did not take the command line:" >&2; grep "Syntax error" "$work/photorec/photorec.log" >&2; exit 1
  fi
done
pr_block=$(sed -n 's/^Pass 1 (blocksize=\([0-9]*\)).*/\1/p' "$work/photorec/photorec.log" | head -1)

# Peak memory (KiB) of restorix on the 4 GiB and the 1 GiB image: the same
# planted files, four times the filler.
peak() {  # peak scan|recover IMAGE
  local command=("$restorix" "$1" "$2" --mode advanced --json)
  if [ "$1" = recover ]; then
    rm -rf "$work/restorix"; mkdir "$work/restorix"; command+=(--to "$work/restorix")
  fi
  /usr/bin/time -f %M -o "$work/peak" "${command[@]}" >/dev/null
  cat "$work/peak"
}
mem_scan_small=$(peak scan "$small"); mem_rec_small=$(peak recover "$small")
mem_scan_big=$(peak scan "$big"); mem_rec_big=$(peak recover "$big")  # leaves the 4 GiB run's files

awk -v mb="$image_mb" -v c="$cat_t" -v s="$scan_t" -v r="$rx" -v p="$pr" -v f="$fm" -v runs="$runs" -v pb="$pr_block" 'BEGIN {
  printf "image: %d MB (4 GiB), 20 copies of each corpus file; best of %d, page cache warm\n", mb, runs
  printf "cat (read limit):          %7.2f s  (%5.0f MB/s)\n", c, mb / c
  printf "restorix recover:          %7.2f s  (%5.0f MB/s)\n", r, mb / r
  printf "  (restorix scan alone:    %7.2f s  (%5.0f MB/s), %.2f x cat)\n", s, mb / s, s / c
  printf "photorec (paranoid):       %7.2f s  (%5.0f MB/s, block size %s)\n", p, mb / p, pb
  printf "foremost -q:               %7.2f s  (%5.0f MB/s)\n", f, mb / f
  printf "ratio restorix scan/cat:      %5.2f  (target <= 2)\n", s / c
  printf "ratio restorix recover/cat:   %5.2f  (writes the files too)\n", r / c
  printf "ratio restorix recover/photorec: %5.2f  (target < 1)\n", r / p
  printf "ratio restorix recover/foremost: %5.2f  (target < 1)\n", r / f
}'

# Planted copies got back whole, per kind. A recovered file counts for the
# copy that starts at the sector in its name (all three tools name their
# files by start sector) when its first bytes hash to the planted file's
# sha256; otherwise for any copy of a corpus file it starts with, matched by
# content. Kinds a tool has no type for show "n/a". Below the table, for
# the kinds where restorix got fewer copies whole than a peer: what it
# wrote at the sectors it missed.
python3 - "$big.tsv" "$foremost_lacks" "$work/restorix" "$work/photorec" "$work/foremost" \
  "$corpus" "$modern" <<'EOF'
import collections, hashlib, os, re, sys
manifest, foremost_lacks = sys.argv[1], set(sys.argv[2].split(","))
tools = dict(zip(("restorix", "photorec", "foremost"), sys.argv[3:6]))
folders = sys.argv[6:8]
planted, kinds, folder_of = [], {}, {}
order = []
for folder in folders:
    with open(f"{folder}/manifest.tsv") as f:
        for line in list(f)[1:]:
            order.append(line.split("\t")[0])
            folder_of[order[-1]] = folder
with open(manifest) as f:
    next(f)
    for line in f:
        offset, length, name, sha, kind = line.rstrip("\n").split("\t")
        if name != "-":
            planted.append((int(offset), int(length), name, sha, kind))
            kinds[name] = kind
at_sector = {p[0] // 512: i for i, p in enumerate(planted)}
by_content = {(p[1], p[3]): p[2] for p in planted}
sizes = sorted({p[1] for p in planted})
count = collections.Counter(p[2] for p in planted)
copies = {n: count[n] for n in order}
skip = {"report.xml", "photorec.log", "audit.txt"}

def starts_with(path, size):
    """The longest corpus file the recovered file starts with, if any (a
    PDF with an update appended starts with the PDF before it)."""
    h, done, found = hashlib.sha256(), 0, None
    with open(path, "rb") as f:
        for length in sizes:
            if length > size:
                break
            h.update(f.read(length - done)); done = length
            found = by_content.get((length, h.copy().hexdigest()), found)
    return found

lengths = {p[2]: p[1] for p in planted}
results, files, written, reach, exact = {}, {}, {}, {}, {}
for tool, folder in tools.items():
    whole, extra, count, total = set(), collections.Counter(), 0, 0
    exact[tool] = collections.Counter()  # whole and no byte more, per name
    for root, _, names in os.walk(folder):
        for base in names:
            if base in skip:
                continue
            count += 1
            path = os.path.join(root, base)
            size = os.path.getsize(path)
            total += size
            m = re.match(r"f?(\d+)", base)
            index = at_sector.get(int(m.group(1))) if m else None
            if tool == "restorix" and m:
                written[int(m.group(1))] = (path, size)
            name = starts_with(path, size)
            if index is not None and name == planted[index][2]:
                whole.add(index)
            elif name:
                extra[name] += 1
            if name and size == lengths[name]:
                exact[tool][name] += 1
    per_name = collections.Counter(planted[i][2] for i in whole)
    results[tool] = {n: min(copies[n], per_name[n] + extra[n]) for n in copies}
    files[tool] = (count, total)
    reach[tool] = max((planted[i][0] for i in whole), default=0)

print(f"\nplanted copies got back whole ({sum(copies.values())} planted, the last at "
      f"{max(p[0] for p in planted) / 1e6:.0f} MB)")
for tool in tools:
    print(f"  {tool + ':':<10}{files[tool][0]:6d} files written, {files[tool][1] / 1e6:7.0f} MB; "
          f"the last whole copy at {reach[tool] / 1e6:.0f} MB")
print(f"{'kind':<18}{'file':<24}{'restorix':>9}{'photorec':>9}{'foremost':>9}")
totals = collections.Counter()
behind = []
for name in copies:  # manifest order, the classic corpus first
    kind = kinds[name]
    part = "modern" if folder_of[name] == folders[1] else "classic"
    row = []
    for tool in tools:
        if tool == "foremost" and kind in foremost_lacks:
            row.append("n/a"); continue
        row.append(f"{results[tool][name]}/{copies[name]}")
        totals[(part, tool)] += results[tool][name]
        totals[("all", tool)] += results[tool][name]
    totals[(part, "planted")] += copies[name]
    print(f"{kind:<18}{name:<24}" + "".join(f"{c:>9}" for c in row))
    peers = [results["photorec"][name]] + ([] if kind in foremost_lacks else [results["foremost"][name]])
    if results["restorix"][name] < max(peers):
        behind.append(name)
for name in copies:
    part = "modern" if folder_of[name] == folders[1] else "classic"
    for tool in tools:
        totals[(part, tool, "exact")] += min(copies[name], exact[tool][name])
        totals[("all", tool, "exact")] += min(copies[name], exact[tool][name])
for part in ("classic", "modern", "all"):
    planted_here = totals[("classic", "planted")] + totals[("modern", "planted")] if part == "all" \
        else totals[(part, "planted")]
    label = f"total, {part} ({planted_here} planted)"
    print(f"{label:<42}" + "".join(f"{totals[(part, t)]:>9}" for t in tools))
    label = "  of them exactly, no byte more"
    print(f"{label:<42}" + "".join(f"{totals[(part, t, 'exact')]:>9}" for t in tools))

for name in behind:
    seen = collections.Counter()
    for offset, length, n, sha, kind in planted:
        if n != name:
            continue
        got = written.get(offset // 512)
        if got is None:
            seen["nothing at its sector"] += 1
            continue
        with open(got[0], "rb") as f:
            data = f.read(length)
        with open(f"{folder_of[name]}/{name}", "rb") as f:
            want = f.read()
        if data == want:
            continue
        same = next((i for i, (a, b) in enumerate(zip(data, want)) if a != b), min(len(data), len(want)))
        seen[f"{got[1]} bytes (planted {length}), same for the first {same}"] += 1
    print(f"restorix behind on {name}: " + "; ".join(f"{k} x{v}" for k, v in seen.items()))
EOF

awk -v ss="$mem_scan_small" -v rs="$mem_rec_small" -v sb="$mem_scan_big" -v rb="$mem_rec_big" 'BEGIN {
  printf "\nrestorix peak memory     1 GiB image   4 GiB image\n"
  printf "  scan --json             %6.1f MiB    %6.1f MiB\n", ss / 1024, sb / 1024
  printf "  recover                 %6.1f MiB    %6.1f MiB\n", rs / 1024, rb / 1024
}'
