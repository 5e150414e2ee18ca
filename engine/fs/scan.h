// The scan driver: one call turns the open source into a finished item tree.
#pragma once

#include <cstdint>
#include <functional>

namespace restorix {

class Engine;

// The signature search that follows (or, on a whole disk, is) the scan. It
// returns keepRunning as it ends.
using SignatureSearch = std::function<std::uint32_t(Engine&)>;

struct ScanResult {
  // keepRunning at the end: nonzero when the scan ran to its end.
  std::uint32_t status = 0;
  // The source went away during the scan; what was found stays, finished.
  bool deviceLost = false;
};

// Builds the tree: the root ".", then the file-system scan that fsType calls
// for (NTFS or FAT), then, when asked for (and always on a source without a
// file system), the signature search. Whatever happens, the tree is finished
// afterwards: placeholders hung under the root, the index freed, folders
// without files pruned. A scan that lost its device reports status 0.
ScanResult RunScan(Engine& engine, bool withSignatureSearch, const SignatureSearch& search);

// The root id of each file system: 5 for NTFS and for a source without one,
// 1 for FAT16, 2 for FAT32.
std::uint32_t RootIdFor(std::uint8_t fsType);

}  // namespace restorix
