#include "fs/exfat_scan.h"

#include <unordered_set>
#include <vector>

#include "disk/volume.h"
#include "fs/exfat_data.h"

namespace restorix {

void AddExfatFolderItems(ItemTree& tree, ItemNode* folder, const std::vector<ExfatEntrySet>& sets) {
  const bool inDeletedFolder = folder->flags == ItemFlags::Folder;
  ItemNode* previous = nullptr;
  for (const ExfatEntrySet& set : sets) {
    if (!set.deleted && !set.folder && !inDeletedFolder) continue;
    ItemNode* node = tree.NewNode();
    node->name = set.name;
    node->size = set.size;
    node->id = set.firstCluster;
    node->parentId = folder->id;
    node->createDate = static_cast<std::uint16_t>(set.created >> 16);
    node->accessDate = static_cast<std::uint16_t>(set.accessed >> 16);
    node->times = {ExfatItemTime(set.created, set.created10ms, set.createdUtc),
                   ExfatItemTime(set.modified, set.modified10ms, set.modifiedUtc),
                   ExfatItemTime(set.accessed, 0, set.accessedUtc)};
    node->flags = (set.folder ? ItemFlags::Folder : ItemFlags::None) |
                  (set.deleted || inDeletedFolder ? ItemFlags::None : ItemFlags::Live);
    node->location = FatChain{set.firstCluster, set.contiguous};
    tree.AddChildAfter(folder, previous, node);
    previous = node;
  }
}

void ScanExfatFolderTree(const Volume& volume, ItemTree& tree, TaskControl task) {
  const ExfatBitmap bitmap = ExfatBitmap::Load(volume);
  const auto rootCluster = static_cast<std::uint32_t>(volume.context().exfatRootCluster());
  std::uint64_t found = 0;
  std::uint32_t done = 0;
  // Depth first without recursion: each frame is the next child to visit of
  // a folder whose children are being visited.
  std::vector<ItemNode*> stack;
  // First clusters of the folders read: a damaged volume may lead back to
  // one.
  std::unordered_set<std::uint32_t> read;
  const auto enter = [&](ItemNode* folder) {
    const bool root = folder == tree.root();
    const auto* chain = std::get_if<FatChain>(&folder->location);
    const std::uint32_t first = root ? rootCluster : chain ? chain->firstCluster : 0;
    const bool taken = !folder->isLive() && bitmap.InUse(first).value_or(false);
    if (first >= 2 && !taken && read.insert(first).second) {
      const std::vector<std::uint8_t> bytes =
          ReadExfatFolder(volume, first, chain && chain->contiguous,
                          root ? std::nullopt : std::optional(folder->size));
      AddExfatFolderItems(tree, folder, ParseExfatFolder(bytes));
    }
    for (const ItemNode* child = folder->firstChild; child; child = child->next)
      found += !child->isFolder();
    stack.push_back(folder->firstChild);
  };
  enter(tree.root());
  while (!stack.empty() && task.running()) {
    ItemNode* child = stack.back();
    if (child == nullptr) {
      stack.pop_back();
      continue;
    }
    stack.back() = child->next;
    task.events.ScanProgress(done, found);
    if (child->isFolder()) {
      enter(child);
    } else {
      ++done;
    }
  }
}

}  // namespace restorix
