// The partition table of a disk as the drive lists show it: each entry's type
// by the name Windows gives it, and whether it boots.
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace restorix::drives {

struct TableEntry {
  std::string type;  // "Installable File System", "GPT: Basic Data", ...
  bool boot = false;
  bool primary = true;
  bool extended = false;
};

struct TableFacts {
  bool readable = false;              // the disk could be opened
  std::map<int, TableEntry> entries;  // by partition number, as the kernel numbers them
};

TableFacts ProbeTable(const std::filesystem::path& diskPath);

}  // namespace restorix::drives
