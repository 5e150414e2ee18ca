// What is known of one volume: its file system, label and serial as libblkid
// reads them, and where it is mounted with its free space.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "drives/drive_lists.h"
#include "platform/mounts.h"

namespace restorix::drives {

struct VolumeFacts {
  bool identified = false;  // the file system is known
  std::string fileSystem;
  std::string label;
  std::string serial;
  std::string mountPoint;
  std::optional<std::uint64_t> freeBytes;
  std::optional<std::uint64_t> blockBytes;
};

// What is known of the volume at `devicePath`, whose device number is
// `deviceNumber` ("major:minor"); nullopt when it holds no file system
// (probed and found none, and not mounted).
std::optional<VolumeFacts> LookAtVolume(const std::filesystem::path& devicePath,
                                        const std::string& deviceNumber,
                                        const std::vector<MountEntry>& mounts);

LogicalDiskInfo MakeLogicalDisk(const std::string& devicePath, std::uint64_t size, bool removable,
                                const VolumeFacts& facts);

}  // namespace restorix::drives
