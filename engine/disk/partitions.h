// Partition tables (MBR, including logical partitions, and GPT) of a whole
// disk or disk image, read with libblkid.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace restorix {

struct PartitionEntry {
  int number = 0;            // as the system numbers it: 1..4 primary, 5.. logical
  std::uint64_t start = 0;   // in 512-byte units, as partition tables count
  std::uint64_t length = 0;  // in 512-byte units
  std::string table;         // "dos" or "gpt"
  std::string type;          // "0x07" for MBR, the type GUID for GPT
  std::string name;          // GPT partition name, if any
  std::uint64_t firstByte() const { return start * 512; }
  std::uint64_t byteLength() const { return length * 512; }
};

struct PartitionList {
  std::vector<PartitionEntry> entries;
  std::string table;  // empty when no partition table was found
  int error = 0;      // errno when the file could not be opened
};

// Reads the partition table of the file or block device at `path`.
PartitionList ListPartitions(const std::filesystem::path& path);

}  // namespace restorix
