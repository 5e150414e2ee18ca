#!/usr/bin/env bash
# Makes the seeds of the image fuzz targets (tests/fuzz/seeds/image_*): small
# volumes made by the file systems' own tools, with a few files, and a small
# disk of files with no file system, each cut down by make_image_seed to the
# sectors its scan reads.
# Usage: tests/fuzz/make-image-seeds.sh build/fuzz/bin/make_image_seed
set -euo pipefail
tool=$(realpath "$1")
cd "$(dirname "$0")"
fixtures=$(realpath ../fixtures)
seeds=$(realpath seeds)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export ASAN_OPTIONS=detect_leaks=0 SOURCE_DATE_EPOCH=1700000000

# FAT16 and FAT32: the FAT fixture's recipe, deleted files and folders and
# long names included.
"$fixtures/make-fat-volume.sh" 16 4 fat16.img >/dev/null
"$fixtures/make-fat-volume.sh" 32 1 fat32.img >/dev/null
# exFAT: the fixture card (its recipe needs root to mount it).
gunzip -c "$fixtures/exfat-card.img.gz" >exfat.img
# NTFS: a fresh 2 MiB volume and two files, one resident and one not.
truncate -s 2M ntfs.img
mkntfs -F -Q -q -c 4096 -T ntfs.img 2>/dev/null
printf 'hello\n' >small.txt
head -c 3000 /dev/zero | tr '\0' 'x' >large.txt
ntfscp -q ntfs.img small.txt small.txt
ntfscp -q ntfs.img large.txt large.txt
# No file system: a 1 MiB disk with files the signature search knows.
truncate -s 1M carving.img
at=8
for file in "$seeds"/signature/walk-image.png "$seeds"/signature/walk-photo-jfif.jpg \
  "$seeds"/modern_detectors/archive.7z "$seeds"/modern_detectors/letter-linear.pdf \
  "$seeds"/modern_detectors/rar5.rar; do
  tail -c +2 "$file" | dd of=carving.img bs=512 seek=$at conv=notrunc status=none
  at=$((at + 40))
done

for fs in fat16 fat32 exfat ntfs carving; do
  mkdir -p "$seeds/image_$fs"
  "$tool" "$fs.img" "$seeds/image_$fs/$fs"
done
