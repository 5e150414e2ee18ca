// What the fuzz targets do with a volume once it opens: scan it as deleted
// file recovery does and read every item through its reader, up to a bound.
#pragma once

#include <cstdint>
#include <vector>

#include "catalogue/item_tree.h"
#include "disk/volume.h"
#include "fs/item_reader.h"
#include "fs/scan.h"

namespace restorix::test {

inline void ReadEveryItem(const Volume& volume, const ItemTree& tree,
                          std::uint64_t maxBytesPerItem) {
  std::vector<std::uint8_t> buffer(1 << 16);
  WalkTree(tree.root(), [&](const ItemNode& node, int) {
    if (node.isFolder()) return;
    ItemReader reader(volume, node);
    for (std::uint64_t at = 0; at < maxBytesPerItem;) {
      const std::size_t n = reader.read(at, buffer);
      if (n == 0) break;
      at += n;
    }
  });
}

inline void ScanAndReadEverything(const Volume& volume, std::uint64_t maxBytesPerItem) {
  const StopToken stop;
  TaskEvents events;
  ItemTree tree;
  RunScan(volume, ScanMode::DeletedFiles, {}, 1024, tree, {stop, events});
  ReadEveryItem(volume, tree, maxBytesPerItem);
}

}  // namespace restorix::test
