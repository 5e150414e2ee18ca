// The FAT services that scans and readers share: where a cluster lies,
// following a cluster chain, and where a FAT item's data lies.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "catalogue/item_tree.h"
#include "disk/volume_context.h"
#include "fs/item_reader.h"

namespace restorix {

class Volume;

// The first sector of cluster `cluster` (2 or more); nullopt for a cluster
// number below 2 or one whose sector a forged geometry pushes past 64 bits.
std::optional<std::uint64_t> FatClusterSector(const VolumeContext& context, std::uint32_t cluster);

// The clusters of a chain from `first`, following the first FAT, at most
// `limit` of them. Cluster 1 gives an empty chain; a cleared FAT (a deleted
// file) gives just `first`. A chain that loops stops once it has more cells
// than the FAT has entries, or at the limit.
std::vector<std::uint32_t> BuildClusterChain(const Volume& volume, std::uint32_t first,
                                             std::uint64_t limit = ~std::uint64_t{0});

// The entry of `cluster` in the first FAT, taken whole; 0 for a free
// cluster. nullopt where the volume's geometry cannot place it.
std::optional<std::uint32_t> ReadFatEntry(const Volume& volume, std::uint32_t cluster);

// Reads the buffers of the folder whose first cluster is `id` in order,
// handing each to `parse` until it returns true: on FAT16 the folder with id
// 1 is the fixed root, read as one buffer; any other folder is read cluster
// by cluster along its chain. A folder holds at most 65,536 entries of 32
// bytes, and a chain that comes back to a cluster it has passed loops: it is
// read once round.
void ReadFatFolderBuffers(const Volume& volume, std::uint32_t id,
                          const std::function<bool(Bytes buffer)>& parse);

// Reads the buffers of a folder whose chain the FAT no longer holds (its
// first cluster is free: a deleted folder, or one a format left behind),
// handing each to `parse` until it returns true: the first cluster, then, as
// a bounded guess that the folder was written in one piece, each cluster
// after it while the last was used up without an end, and the next one is
// free, does not start a folder of its own (a "." entry) and opens with an
// entry a folder could hold. At most 65,536 entries of 32 bytes.
void ReadFatFolderOnward(const Volume& volume, std::uint32_t first,
                         const std::function<bool(Bytes buffer)>& parse);

// Whether a cluster opens with the "." entry of a folder that names it, and
// the ".." entry after it: the first cluster of a sub-folder.
bool StartsFatFolder(Bytes cluster, std::uint32_t number);

// Whether a cluster holds nothing but folder entries up to its end or an end
// marker, at least one of them a short entry: long-name pieces shaped as the
// file system writes them, short entries whose names are characters, whose
// attributes and case bits a file or folder carries and whose first clusters
// lie on the volume. A folder's later cluster, met without its first.
bool HoldsFatEntries(Bytes cluster, const VolumeContext& context);

// The first cluster a 32-byte folder entry names.
inline std::uint32_t FatFirstCluster(Bytes entry) {
  return (std::uint32_t{le16(entry, 20)} << 16) | le16(entry, 26);
}

// Where a FAT item's `size` bytes lie: along its chain when the chain fits
// the size, else in consecutive clusters from the first one on (a deleted
// file, whose chain the file system cleared, or an exFAT file kept in
// consecutive clusters without a chain).
StreamMap MapFatItem(const Volume& volume, const FatChain& item, std::uint64_t size);

}  // namespace restorix
