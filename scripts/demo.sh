#!/usr/bin/env bash
# Builds Restorix and runs it on the shipped demo disk: a 72 MiB disk image
# with a FAT32 and an NTFS partition in which files were created and deleted.
# Lists the deleted files of both partitions and recovers them into
# build/demo/recovered.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh release
restorix=build/release/bin/restorix
demo=build/demo/demo-disk.img
out=build/demo/recovered
tests/fixtures/unpack.sh tests/fixtures build/demo >/dev/null
mkdir -p "$out"

step() { printf '\n$ %s\n' "$*"; "$@"; }
step "$restorix" partitions "$demo"
step "$restorix" scan "$demo" --partition 1
step "$restorix" scan "$demo" --partition 2
step "$restorix" recover "$demo" --partition 1 --to "$out"
step "$restorix" recover "$demo" --partition 2 --to "$out"
printf '\nThe recovered files are in %s:\n' "$out"
find "$out" -type f | sort | sed 's/^/  /'
