// The stale-scan check: whether what a scan saw of an item is still on the
// source, so that an item whose place the volume has since reused (new
// files written after the scan, a saved scan reopened later) is never
// written as if it were the scanned file.
#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "catalogue/item_tree.h"
#include "fs/exfat_data.h"
#include "signature/signature_record.h"

namespace restorix {

class Volume;

class StaleItemCheck {
 public:
  // `signatures`: the type table for carved items; without one the
  // Signature file beside the program is read when the first carved item is
  // met.
  explicit StaleItemCheck(const Volume& volume,
                          std::optional<std::vector<SignatureRecord>> signatures = std::nullopt);

  // Whether the file item changed since the scan:
  // - NTFS: its record is no longer a free file record (the same sequence
  //   number, where the scan kept it, the same parent folder and creation
  //   date), an attribute its data lies in is no longer $DATA, or its
  //   stream no longer claims the same size;
  // - FAT: its folder no longer holds a deleted entry (or, inside a deleted
  //   folder, any entry) with its first cluster and size, or that cluster
  //   is no longer free;
  // - exFAT: its folder no longer holds a deleted entry set (or, inside a
  //   deleted folder, any set) with its name, first cluster and size, or the
  //   allocation bitmap gives that cluster to something else now;
  // - carved: its first sector no longer starts with a signature of its
  //   type (or, where the type is not in the table, of its category); one
  //   whose type the table does not know cannot be checked.
  // Raises DeviceLostError when the source has gone away.
  bool Changed(const ItemNode& item) { return Check(item, true); }
  // The same without the FAT and exFAT first-cluster test: whether the
  // item's record or entry (or a carved item's signature) is gone.
  bool EntryReused(const ItemNode& item) { return Check(item, false); }

 private:
  bool Check(const ItemNode& item, bool firstCluster);
  bool NtfsChanged(const ItemNode& item, const NtfsRecord& record);
  bool FatChanged(const ItemNode& item, std::uint32_t firstCluster, bool checkCluster);
  bool ExfatChanged(const ItemNode& item, const FatChain& chain, bool checkCluster);
  bool CarvedChanged(const ItemNode& item, std::uint64_t firstSector);

  // One 32-byte entry of a FAT folder, as the check needs it.
  struct FatEntry {
    std::uint32_t firstCluster;
    std::uint32_t size;
    bool deleted;
  };
  const std::vector<FatEntry>& FatFolder(std::uint32_t id);

  const Volume& volume_;
  std::optional<std::vector<SignatureRecord>> signatures_;
  std::unordered_map<std::uint32_t, std::vector<FatEntry>> fatFolders_;
  std::unordered_map<const ItemNode*, std::vector<ExfatEntrySet>> exfatFolders_;
  std::optional<ExfatBitmap> exfatBitmap_;
  std::vector<std::uint8_t> buffer_;
};

}  // namespace restorix
