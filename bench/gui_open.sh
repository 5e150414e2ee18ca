#!/usr/bin/env bash
# Opening a scan of 1,000,000 items in the desktop program. Saves the scan
# (900 folders of 1000 files and one of 100,000; the source is the NTFS test
# volume, so that it opens again), then opens it in the main window offscreen
# and prints: the time until the window answers with the tree shown, the time
# to list the folder of 100,000 items in the details view and to sort it by
# name, and peak memory, with the bytes per item the program takes on top of
# the loaded tree alone (targets: usable within 2 s, list and sort within
# 0.5 s, at most 300 bytes per item on top of the tree). Last line:
#   items=N usable_s=S rss_mib=M
#   bench/gui_open.sh [WORK_DIR]
set -euo pipefail
. "$(dirname "$0")/lib.sh"
bench=build/release/bench/gui_open_bench
[ -x "$bench" ] || { echo "build first: cmake --build --preset release --target gui_open_bench" >&2; exit 1; }
trap drop_work EXIT
tests/fixtures/unpack.sh tests/fixtures "$work" >/dev/null
scan="$work/million.qns"
items=$("$bench" make "$scan" "$work/ntfs-c4k.img" | sed -n 's/^items=//p')
tree_kib=$("$bench" tree "$scan" | sed -n 's/^tree_peak_kib=//p')
mkdir -p "$work/home"
out=$(HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_DATA_HOME="$work/home/data" \
  XDG_RUNTIME_DIR="$work/home" QT_QPA_PLATFORM=offscreen "$bench" open "$scan" 2>/dev/null)
value() { echo "$out" | sed -n "s/^$1=//p"; }
peak_kib=$(value peak_kib)
echo "scan: $items items, $(du -m "$scan" | cut -f1) MiB"
echo "tree alone: peak $((tree_kib / 1024)) MiB"
echo "folder of $(value rows) items: listed in $(value list_s) s (details; large icons: $(value icons_s) s), sorted by name in $(value sort_s) s"
awk -v p="$peak_kib" -v t="$tree_kib" -v n="$items" \
  'BEGIN { printf "on top of the tree: %.0f bytes per item (Qt itself included)\n", (p - t) * 1024 / n }'
echo "items=$items usable_s=$(value usable_s) rss_mib=$((peak_kib / 1024))"
