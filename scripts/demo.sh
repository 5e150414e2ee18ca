#!/usr/bin/env bash
# Builds Restorix and runs it on the shipped demo disk: a 72 MiB disk image
# with a FAT32 and an NTFS partition in which files were created and deleted.
# Lists the deleted files of both partitions, recovers them into
# build/demo/recovered, saves a scan of the NTFS partition and, when there is
# a display, opens that scan in the desktop program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh release
restorix=build/release/bin/restorix
gui=build/release/bin/restorix-gui
demo=build/demo/demo-disk.img
out=build/demo/recovered
tests/fixtures/unpack.sh tests/fixtures build/demo >/dev/null
mkdir -p "$out"

step() { printf '\n$ %s\n' "$*"; "$@"; }
step "$restorix" partitions "$demo"
step "$restorix" scan "$demo" --partition 1
step "$restorix" scan "$demo" --partition 2 --save-scan build/demo/demo-ntfs.qns
step "$restorix" recover "$demo" --partition 1 --to "$out"
step "$restorix" recover "$demo" --partition 2 --to "$out"
printf '\nThe recovered files are in %s:\n' "$out"
find "$out" -type f | sort | sed 's/^/  /'
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  step "$gui" build/demo/demo-ntfs.qns
else
  printf '\nWith a display, the desktop program shows the same scan:\n  %s %s\n' "$gui" \
    build/demo/demo-ntfs.qns
fi
