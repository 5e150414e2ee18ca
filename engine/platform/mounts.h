// The mount table of /proc/self/mountinfo (or a copy of one, in tests).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace restorix {

struct MountEntry {
  std::string device;  // "major:minor"
  std::string root;    // the folder of the file system that is mounted
  std::string mountPoint;
  std::string fsType;
  std::string source;                // what the file system is stored on, as the kernel names it
  std::vector<std::string> options;  // the file system's own options ("rw", "upperdir=...")
};

// Reads every line that has the fields of a mountinfo line; the path fields
// are unescaped (mountinfo writes blank, tab, newline and backslash as \ooo).
std::vector<MountEntry> ReadMounts(const std::filesystem::path& mountInfo);

}  // namespace restorix
