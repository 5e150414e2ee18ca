#!/usr/bin/env bash
# Builds Restorix and runs it on the shipped demo disk: a 72 MiB disk image
# with a FAT32 and an NTFS partition in which files were created and deleted.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh release
restorix=build/release/bin/restorix
demo=build/demo/demo-disk.img
tests/fixtures/unpack.sh tests/fixtures build/demo >/dev/null

step() { printf '\n$ %s\n' "$*"; "$@"; }
step "$restorix" partitions "$demo"
step "$restorix" info "$demo" --partition 1
step "$restorix" info "$demo" --partition 2
