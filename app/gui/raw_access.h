// Whether this program may read the disks of the machine, and the other way
// to open them: udisks2 hands out a read-only descriptor of a block device
// (Block.OpenForBackup) once polkit has asked the user, so the program never
// has to run as root.
#pragma once

#include <filesystem>

namespace restorix {

enum class RawAccess {
  Granted,    // at least one disk opened for reading
  Refused,    // every disk refused (EACCES, EPERM)
  NoDevices,  // nothing to try
};

// Tries the block devices listed in `sysBlock` under `dev` (RAM disks,
// optical and floppy drives and devices without media left out).
RawAccess ProbeRawAccess(const std::filesystem::path& sysBlock = "/sys/block",
                         const std::filesystem::path& dev = "/dev");

// udisks2 answers on the system bus (or can be started there).
bool UDisksAvailable();

// Opens a block device read-only through udisks2; waits while polkit asks
// the user. Returns an owned descriptor, or -1 with `error` set.
int OpenThroughUDisks(const std::filesystem::path& device, int& error);

// From now on, block devices this program may not open itself are opened
// through udisks2.
void UseUDisksForDevices();

}  // namespace restorix
