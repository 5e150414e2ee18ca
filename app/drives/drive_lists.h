// The machine's storage as three flat lists: physical disks, their
// partitions, and the volumes on those partitions. The lists are linked by
// order and count only: the `partitionCount` partitions of a disk are the next
// ones in `partitions`, and the `logicalDiskCount` volumes of a partition are
// the next ones in `logicalDisks`.
//
// Everything comes from what an unprivileged process may read: /sys/block for
// the disks and partitions, libblkid (read-only probes) for partition types
// and file systems, /proc/self/mountinfo and statvfs for free space. A fact
// that cannot be read leaves its field empty.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace restorix {

struct PhysicalDiskInfo {
  std::string displayName;    // "Disk # 0 (238.47 GB)"
  std::string sizeText;       // bytes, decimal
  std::string auxText;        // left empty
  std::string serialNumber;   // "N/A" when the device reports none
  std::string interfaceType;  // "IDE" (ATA), "USB", "1394", "NVMe", "MMC", "VirtIO", "SCSI", "Loop"
  std::string mediaType;      // "Removable Media" or "Fixed hard disk media"
  std::string model;          // for a loop device, its backing file
  std::string partitionsText;  // "%u" of partitionCount
  std::string totalCylinders;  // of the 255-head, 63-sector geometry disks are given
  std::string totalHeads;
  std::string totalSectors;  // the device's own count of logical sectors
  std::uint32_t partitionCount = 0;
  std::string devicePath;  // "/dev/sda": what a source is opened from
  std::uint64_t bytes = 0;
  std::uint64_t bytesPerSector = 0;  // logical sector size
};

struct PartitionInfo {
  std::string displayName;  // "Disk #0, Partition #1 (100.00 GB)", numbered from 0 per disk
  std::string sizeText;
  std::string auxText;
  std::string bootPartition;     // "Yes" or "No"
  std::string type;              // "Installable File System", "GPT: Basic Data", ...
  std::string primaryPartition;  // "Yes" or "No"
  std::uint32_t logicalDiskCount = 0;
  std::string devicePath;  // "/dev/sda1"; the disk itself for a volume without a partition table
  std::uint64_t bytes = 0;
};

struct LogicalDiskInfo {
  std::string displayName;  // the volume's device path and size: "/dev/sda1 (100.00 GB)"
  std::string sizeText;
  std::string auxText;
  std::string volumeName;          // label, or "<N\A>"
  std::string volumeSerialNumber;  // "1234ABCD" for FAT and NTFS, the UUID otherwise
  std::string fileSystem;          // "NTFS", "FAT32", "FAT", "exFAT", or libblkid's name
  std::string freeSpace;           // "%.2f GB"/"%.2f MB"; empty when not mounted
  std::string blockSize;
  std::string spareText;        // left empty
  std::uint32_t driveType = 0;  // 2 removable, 3 fixed, 0 when the size is 0
  std::string devicePath;
  unsigned partition = 0;  // of a whole-disk image file, from 1; 0 for anything else
  std::string mountPoint;  // empty when not mounted
  std::uint64_t bytes = 0;
  std::optional<std::uint64_t> freeBytes;   // when mounted
  std::optional<std::uint64_t> blockBytes;  // when the file system says
};

struct DriveLists {
  std::vector<PhysicalDiskInfo> physicalDisks;
  std::vector<PartitionInfo> partitions;
  std::vector<LogicalDiskInfo> logicalDisks;
  std::string error;  // why the enumeration stopped early; empty when it completed
};

// Where the facts are read from; tests point these at a fake tree.
struct DriveSources {
  std::filesystem::path sysBlock = "/sys/block";
  std::filesystem::path dev = "/dev";
  std::filesystem::path mountInfo = "/proc/self/mountinfo";
};

DriveLists EnumerateDrives(const DriveSources& sources = {});

// Lists an image file as a drive of its own: a physical disk named by its
// path, and as logical drives its partitions, or the whole file when it has no
// partition table.
void AddImageFile(DriveLists& lists, const std::filesystem::path& image);

// "NAME (1.00 GB)": the size rule of SizeText() appended to a name.
std::string NameWithSize(const std::string& name, std::uint64_t bytes);

// Tabs become blanks; a text not beginning with "F" keeps only 15 characters.
std::string NormaliseMediaType(std::string_view mediaType);

// Decodes a serial number written as hexadecimal digits of byte-swapped ATA
// words ("5331..." for "1S..."), keeping only digits and capital letters.
std::string DecodeSerialNumber(std::string_view swappedHex);

// Whether a reported serial is in that swapped hexadecimal form: only hex
// digits, a whole number of 16-bit words and at least four of them, spelling
// nothing but printable ASCII, blanks and NULs once the words are swapped, and
// leaving something after decoding. Shorter hex serials (MMC serials, NVMe
// EUIs, plain numbers) are far more often meant literally.
bool IsSwappedHexSerial(std::string_view serial);

}  // namespace restorix
