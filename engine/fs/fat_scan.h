// The FAT scan: the folder structure is walked from the root directory, and
// every deleted file and every folder, with long names where the entries
// still hold them, becomes an item. Also the two FAT services the rest of
// the system needs: following a cluster chain and copying a FAT item's data.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "util/bytes.h"

namespace restorix {

class Engine;
struct ItemNode;

// The scan's two counters: deleted files found and items done.
struct FatScanCounters {
  std::uint64_t found = 0;
  std::uint32_t done = 0;
};

// Walks the folder tree from `root` depth first, reading each folder and
// reporting progress as (done, found). Returns keepRunning as it ends.
std::uint32_t ScanFatFolderTree(Engine& engine, ItemNode* root, FatScanCounters& counters);

// Reads a folder's entries and adds them as its children. False when the
// first cluster no longer holds this folder (it fails the folder check), so
// nothing was taken from it. The walk does not read a folder again once its
// first cluster was read as its own (a loop on a damaged volume).
bool ReadFatFolder(Engine& engine, ItemNode* folder);

// The deleted folders among a folder's children, by first cluster, so that a
// later entry for the same folder merges into them.
using DeletedFolders = std::unordered_map<std::uint32_t, ItemNode*>;

// Parses the 32-byte entries of one buffer of `folder`. True when the folder
// ends inside it (an end marker, an invalid entry or a failed folder check);
// false when the buffer was used up and the next cluster should be read.
bool ParseFatDirectoryBuffer(Engine& engine, Bytes buffer, ItemNode* folder,
                             DeletedFolders& deleted);

// The clusters of a chain from `first`, following the first FAT, at most
// `limit` of them. Cluster 1 gives an empty chain; a cleared FAT (a deleted
// file) gives just `first`. A chain that loops stops once it has more cells
// than the FAT has entries, or at the limit.
std::vector<std::uint32_t> BuildClusterChain(Engine& engine, std::uint32_t first,
                                             std::uint64_t limit = ~std::uint64_t{0});

// The first sector of cluster `cluster` (2 or more).
std::uint64_t FatClusterSector(const Engine& engine, std::uint32_t cluster);

// Writes a FAT item's `size` bytes: along its chain when the chain fits the
// size, else from consecutive clusters from the first one on (a deleted
// file, whose chain the file system cleared).
void CopyFatItem(Engine& engine, const ItemNode& node, int out);

}  // namespace restorix
