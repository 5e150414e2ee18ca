#include "disk/volume_context.h"

#include <algorithm>

namespace restorix {

VolumeContext VolumeContext::Decode(Bytes block) {
  VolumeContext context;
  std::copy_n(block.begin(), std::min(block.size(), kSize), context.bytes_.begin());
  return context;
}

const char* FileSystemName(FsType fsType) {
  switch (fsType) {
    case FsType::Fat16:
      return "FAT16";
    case FsType::Fat32:
      return "FAT32";
    case FsType::Ntfs:
      return "NTFS";
    case FsType::Exfat:
      return "exFAT";
    case FsType::None:
      break;
  }
  return "none";
}

}  // namespace restorix
