#!/usr/bin/env bash
# Takes the pictures of the desktop program under docs/screenshots: the main
# window on the demo disk's NTFS volume, the progress dialog, Find, the
# preview of a deleted picture, and the pages of the wizard. Runs the
# program under Xvfb (xvfb-run).
#   scripts/screenshots.sh
set -euo pipefail
cd "$(dirname "$0")/.."
command -v xvfb-run >/dev/null || { echo "install the Debian package xvfb" >&2; exit 1; }
cmake --preset release >/dev/null
cmake --build --preset release --target gui_screenshots restorix
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tests/fixtures/unpack.sh tests/fixtures "$work" >/dev/null
build/release/bin/restorix image "$work/demo-disk.img" --partition 2 "$work/demo-ntfs.qni" >/dev/null
cp "$work/ntfs-carving.img" "$work/pictures.qni"
mkdir -p docs/screenshots "$work/home"
# A home of its own: no settings, tips or lock of the user's.
HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_DATA_HOME="$work/home/data" \
  XDG_RUNTIME_DIR="$work/home" \
  xvfb-run -a -s "-screen 0 1280x820x24" \
  build/release/bin/gui_screenshots docs/screenshots "$work/demo-ntfs.qni" "$work/pictures.qni" \
  "$work/demo-disk.img"
