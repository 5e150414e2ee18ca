#!/usr/bin/env bash
# Copies the icons the desktop program uses out of Debian's tango-icon-theme
# (Tango Icon Library 0.8.90, public domain; see README.md here): the 16, 24
# and 32 pixel drawings as they are, and 48 pixels rendered from the scalable
# drawing with rsvg-convert (librsvg2-bin).
#   app/gui/icons/make-icons.sh
set -euo pipefail
cd "$(dirname "$0")"
tango=/usr/share/icons/Tango
[ -d "$tango" ] || { echo "install the Debian package tango-icon-theme" >&2; exit 1; }
command -v rsvg-convert >/dev/null || { echo "install the Debian package librsvg2-bin" >&2; exit 1; }

# name used here   Tango context/name
icons="
wizard           apps/system-installer
find             actions/edit-find
find-next        actions/go-jump
save-all         actions/document-save
save-selected    actions/document-save-as
goto-parent      actions/go-up
buy              emblems/emblem-favorite
update           apps/system-software-update
contents         apps/help-browser
stop             actions/process-stop
folder           places/folder
folder-open      status/folder-open
file             mimetypes/text-x-generic
disk             devices/drive-harddisk
calendar         mimetypes/x-office-calendar
process          categories/applications-system
"
while read -r name source; do
  [ -n "$name" ] || continue
  for size in 16 24 32; do
    cp "$tango/${size}x${size}/$source.png" "$name-$size.png"
  done
  rsvg-convert -w 48 -h 48 "$tango/scalable/$source.svg" -o "$name-48.png"
done <<<"$icons"
