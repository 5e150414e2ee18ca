// Read-only libblkid probes of a file or block device: the file system it
// holds, or its partition table. The only place the program calls libblkid.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_io.h"

struct blkid_struct_probe;

namespace restorix {

// One entry of a partition table, as libblkid reads it.
struct ProbedPartition {
  int number = 0;                // as the kernel numbers it: 1..4 primary, 5.. logical
  std::uint64_t start = 0;       // in 512-byte units
  std::uint64_t length = 0;      // in 512-byte units
  std::string table;             // type of the table holding the entry: "dos", "gpt", ...
  int typeCode = 0;              // the MBR type byte
  std::string typeString;        // the GPT type GUID; empty for MBR entries
  std::string name;              // the GPT partition name, if any
  unsigned long long flags = 0;  // MBR: the boot indicator (0x80); GPT: the attribute bits
  bool primary = false;
  bool extended = false;
};

struct ProbedPartitions {
  std::string table;  // "dos", "gpt", ...; empty when no partition table was found
  std::vector<ProbedPartition> entries;
};

class BlkidProbe {
 public:
  // `NonBlocking` opens with O_NONBLOCK, as a survey of every block device
  // does: a removable-media drive then opens without its medium being checked
  // or waited for.
  enum class OpenMode { Blocking, NonBlocking };

  struct Opened {
    std::unique_ptr<BlkidProbe> probe;
    int error = 0;  // when probe is empty: errno of the open, or EIO when libblkid refuses it
  };
  // Opens `path` read-only for one probe.
  static Opened Open(const std::filesystem::path& path, OpenMode mode = OpenMode::Blocking);

  // Looks for one file system or other content (swap, RAID member, encrypted
  // container...) with its label, UUID, type, usage and version; false when
  // none, or more than one, was found. Its values are then read with Value().
  bool FindSuperblock();
  // A value found by FindSuperblock() ("TYPE", "USAGE", "VERSION", "LABEL",
  // "UUID", "BLOCK_SIZE"...); empty when there is none.
  std::string Value(const char* name) const;

  // The partition table with its entries in the order libblkid lists them.
  ProbedPartitions ReadPartitions();

 private:
  struct FreeProbe {
    void operator()(blkid_struct_probe* probe) const;
  };
  BlkidProbe(UniqueFd fd, std::unique_ptr<blkid_struct_probe, FreeProbe> probe);

  UniqueFd fd_;  // declared first: the probe is freed before its descriptor closes
  std::unique_ptr<blkid_struct_probe, FreeProbe> probe_;
};

}  // namespace restorix
