#!/usr/bin/env bash
# Installs what Restorix needs from Debian's packages (only what is missing),
# then configures and builds the given CMake presets (default: release).
#   scripts/setup.sh [PRESET ...]
# RESTORIX_WERROR=ON in the environment turns warnings into errors.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  g++ cmake ninja-build pkg-config gzip
  libblkid-dev libcli11-dev nlohmann-json3-dev zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev libssl-dev
  dosfstools mtools ntfs-3g fdisk sleuthkit python3 clang
  # a test checks how every command opens its source
  strace
  # the exFAT fixture and benchmark: mkfs.exfat, exfat-fuse; ext4 for a CLI test
  exfatprogs exfat-fuse e2fsprogs
  # failing disks: a FUSE file that fails chosen reads, and GNU ddrescue as the peer
  python3-fusepy fuse3 gddrescue
  qt6-base-dev libgl-dev xvfb xauth
  # tests/fixtures/modern/make-modern.sh: the tools that write today's files
  ffmpeg libheif-examples flac vorbis-tools opus-tools pandoc ghostscript
  imagemagick sqlite3 zip unzip p7zip-full
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(release)
for preset in "${presets[@]}"; do
  cmake --preset "$preset" -DRESTORIX_WERROR="${RESTORIX_WERROR:-OFF}" >/dev/null
  cmake --build --preset "$preset"
done
