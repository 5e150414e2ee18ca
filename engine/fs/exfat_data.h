// The exFAT services that the scan, the stale-scan check and the
// recoverability verdict share: a folder's entry sets, the bytes of a folder,
// and the allocation bitmap.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "util/bytes.h"

namespace restorix {

class Volume;

// One file or folder of an exFAT folder: a file entry, its stream entry and
// its name entries, which passed the set checksum.
struct ExfatEntrySet {
  std::size_t offset = 0;  // of the file entry within the folder
  bool deleted = false;    // the in-use bit of the file entry is clear
  bool folder = false;
  bool contiguous = false;  // NoFatChain: no chain in the FAT
  std::u16string name;
  std::uint64_t size = 0;       // data length
  std::uint64_t validSize = 0;  // bytes written; later ones read as zeros
  std::uint32_t firstCluster = 0;
  // FAT-style timestamps (date in the high half, time of day in 2-second
  // steps in the low half), with the 10 ms steps beyond them and the UTC
  // offset bytes (see ExfatItemTime).
  std::uint32_t created = 0, modified = 0, accessed = 0;
  std::uint8_t created10ms = 0, modified10ms = 0;
  std::uint8_t createdUtc = 0, modifiedUtc = 0, accessedUtc = 0;
};

// The entry sets of a whole folder, in the folder's order, the deleted ones
// (in-use bits clear) with the others. A set that fails its checksum, is cut
// off by the folder's end or lacks its stream or name entries is passed
// over; the walk stops at the end-of-folder entry.
std::vector<ExfatEntrySet> ParseExfatFolder(Bytes folder);

// The folder bytes of the folder whose data starts at `firstCluster`: the
// root folder (no `size`: its entry is the boot sector's) along its FAT
// chain, any other as a file of `size` bytes (see MapFatItem). At most
// 256 MiB, the largest folder exFAT allows.
std::vector<std::uint8_t> ReadExfatFolder(const Volume& volume, std::uint32_t firstCluster,
                                          bool contiguous, std::optional<std::uint64_t> size);

// The allocation bitmap that the root folder names: one bit a cluster, set
// for a cluster in use.
class ExfatBitmap {
 public:
  // The (first) bitmap; empty (every cluster unknown) where the root folder
  // names none.
  static ExfatBitmap Load(const Volume& volume);
  bool empty() const { return bits_.empty(); }
  // Bit n (of byte n / 8, from its lowest bit) is cluster n + 2.
  const std::vector<std::uint8_t>& bits() const { return bits_; }
  // nullopt for a cluster the bitmap does not cover.
  std::optional<bool> InUse(std::uint32_t cluster) const;

 private:
  std::vector<std::uint8_t> bits_;
};

}  // namespace restorix
