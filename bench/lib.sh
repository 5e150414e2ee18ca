# Shared by the benchmark scripts: sourced, not run, right after
# `set -euo pipefail` as  . "$(dirname "$0")/lib.sh"
# Moves to the repository, checks the build, and sets
#   restorix  the program (RESTORIX overrides)
#   cache     where built volumes and images are kept between runs
#             (RESTORIX_BENCH_CACHE overrides)
#   work      the script's first argument, or a new temporary folder;
#             own_work is set when the folder is ours to remove (drop_work).
cd "$(dirname "$0")/.."
restorix=${RESTORIX:-build/release/bin/restorix}
[ -x "$restorix" ] || { echo "build first: scripts/setup.sh release" >&2; exit 1; }
cache=${RESTORIX_BENCH_CACHE:-/var/tmp/restorix-bench}
own_work=""; [ $# -ge 1 ] || own_work=1
work=${1:-$(mktemp -d)}
mkdir -p "$work" "$cache"
work=$(cd "$work" && pwd)

drop_work() { [ -z "$own_work" ] || rm -rf "$work"; }

# A tool that is missing is installed from Debian's packages when running
# as root, otherwise the script names the package and stops.
need() {  # need COMMAND PACKAGE
  command -v "$1" >/dev/null 2>&1 && return
  if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
    echo "Installing $2 (for $1)" >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$2" >/dev/null ||
      { DEBIAN_FRONTEND=noninteractive apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$2" >/dev/null; }
  fi
  command -v "$1" >/dev/null 2>&1 || { echo "missing $1: install the Debian package $2" >&2; exit 1; }
}

# The seconds "$@" takes, its standard output thrown away; fails when it fails.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null || { echo "failed: $1 (exit $?)" >&2; return 1; }
  end=$(date +%s.%N)
  echo "$start $end" | awk '{print $2 - $1}'
}

# The smaller of a time and the best so far (empty before the first).
best() { echo "$1 $2" | awk '{print ($2 == "" || $1 < $2) ? $1 : $2}'; }

# ntfs-3g stays in the foreground (no_detach) in a background job, so that
# after umount we can wait until it has written everything back to the image.
mnt=""; ntfs_pid=""
mount_ntfs() {  # mount_ntfs IMAGE [OPTION,...]
  mnt=$(mktemp -d)
  ntfs-3g -o "no_detach,big_writes,noatime${2:+,$2}" "$1" "$mnt" >"$mnt.log" 2>&1 &
  ntfs_pid=$!
  for _ in $(seq 100); do
    mountpoint -q "$mnt" && return
    kill -0 "$ntfs_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "ntfs-3g could not mount $1 (is /dev/fuse there?):" >&2; cat "$mnt.log" >&2; exit 1
}
unmount_ntfs() {
  [ -n "$mnt" ] || return 0
  if mountpoint -q "$mnt"; then umount "$mnt" || umount -l "$mnt"; fi
  if [ -n "$ntfs_pid" ]; then wait "$ntfs_pid" || true; fi
  rmdir "$mnt"; rm -f "$mnt.log"; mnt=""; ntfs_pid=""
}
