// What /sys/block tells of the block devices: attributes, which devices are
// physical disks and in what order they are listed, the device folders above
// a disk, and its partitions.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace restorix::drives {

// Without the blanks, newlines and NULs that pad sysfs attributes and SCSI
// inquiry pages.
std::string Trim(std::string_view text);

// A sysfs attribute, trimmed; empty when it is missing or unreadable.
std::string ReadAttribute(const std::filesystem::path& path);

// A decimal attribute; nullopt when it is missing or not a plain number.
std::optional<std::uint64_t> ReadNumber(const std::filesystem::path& path);

// Where a disk goes in the list. Disks are numbered as the kernel numbered
// their devices (major, then minor), which follows the order they were found
// in and keeps sdz before sdaa; loop devices come last, so that attaching an
// image never renumbers the machine's own disks.
struct DiskOrder {
  bool loop = false;
  bool numbered = false;
  unsigned major = 0, minor = 0;
  std::string name;

  bool operator<(const DiskOrder& other) const;
};

// `deviceNumber` is the "major:minor" of the device's dev attribute.
DiskOrder OrderOf(const std::string& name, const std::string& deviceNumber);

// Block devices that are no physical disk: memory and compressed-memory disks,
// device-mapper and software RAID (built on disks that are listed themselves),
// optical and floppy drives, the eMMC boot and RPMB areas, hidden NVMe
// multipath paths, and loop devices with nothing attached.
bool IsPhysicalDisk(const std::string& name, const std::filesystem::path& dir);

// The folders from the disk's device up to the top of sysfs (`sysRoot`).
std::vector<std::filesystem::path> DeviceAncestors(const std::filesystem::path& diskDir,
                                                   const std::filesystem::path& sysRoot);

// The name of the bus or class a sysfs device folder belongs to ("usb", "scsi"...).
std::string SubsystemOf(const std::filesystem::path& dir);

struct SysPartition {
  int number = 0;
  std::string name;
  std::uint64_t bytes = 0;
  std::string deviceNumber;
};

// The partitions the kernel found on the disk, by number.
std::vector<SysPartition> ListSysPartitions(const std::filesystem::path& diskDir);

}  // namespace restorix::drives
