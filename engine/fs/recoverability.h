// The recoverability verdict: for every deleted file of a tree, how much of
// it the volume still holds (intact, partly overwritten, or gone).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "catalogue/item_tree.h"
#include "fs/item_reader.h"
#include "task.h"

namespace restorix {

class Volume;

// "intact", "partial", "overwritten"; null for Unknown (live items,
// folders, a saved scan whose source is not open).
const char* RecoverableName(Recoverable state);

// Which clusters a volume's allocation structures mark as in use: the NTFS
// $Bitmap, the FAT, the exFAT allocation bitmap.
class AllocationMap {
 public:
  explicit AllocationMap(const Volume& volume);
  // Whether the cluster that holds `sector` is in use; nullopt where the
  // structures say nothing of it (no file system, a sector outside the
  // clusters, an unreadable bitmap).
  std::optional<bool> SectorInUse(std::uint64_t sector);
  // The same for an NTFS cluster number.
  std::optional<bool> ClusterInUse(std::uint64_t cluster);

 private:
  const Volume& volume_;
  std::vector<std::uint8_t> bits_;  // NTFS and exFAT: a bit a cluster
  std::uint64_t firstBitCluster_ = 0;
  // FAT: the first FAT's sector last read.
  std::vector<std::uint8_t> fatSector_;
  std::uint64_t fatSectorAt_ = ~std::uint64_t{0};
};

// The verdict on one deleted file whose data `reader` maps: by the share of
// its clusters still free: all (Intact), none (Overwritten), some (Partial).
// A file with no clusters (resident, empty) is Intact, and so is a carved
// file. Live items and folders get Unknown.
Recoverability AssessItem(const Volume& volume, const ItemNode& item, const ItemReader& reader,
                          AllocationMap& allocation);

// Cuts the claimed sizes (CutClaimedSizes) and gives every deleted file its
// verdict in the same pass. With `checkEntries` (a saved scan whose source
// was opened again) a file whose record or entry was reused since, or a
// carved file whose signature is gone, is Overwritten; a scan has just read
// them. Returns early once `stop` is cleared; lets DeviceLostError pass.
void CutSizesAndAssess(const Volume& volume, ItemTree& tree, const StopToken& stop,
                       bool checkEntries);

}  // namespace restorix
