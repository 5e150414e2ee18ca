// The recoverability verdict: for every deleted file of a tree, how much of
// it the volume still holds (intact, partly overwritten, or gone).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "catalogue/item_tree.h"
#include "task.h"

namespace restorix {

class Volume;

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

// The verdict on one deleted file: Overwritten when its record or entry was
// reused (or, for a carved file, its signature is gone), else by the share
// of its clusters still free: all (Intact), none (Overwritten), some
// (Partial). A file with no clusters (resident, empty) whose entry stands is
// Intact. Live items and folders get Unknown.
Recoverability AssessItem(const Volume& volume, const ItemNode& item, AllocationMap& allocation,
                          class StaleItemCheck& check);

// Gives every deleted file of the tree its verdict. Returns early once
// `stop` is cleared; lets DeviceLostError pass.
void AssessRecoverability(const Volume& volume, ItemTree& tree, const StopToken& stop);

}  // namespace restorix
