#include "fs/lost_folders.h"

#include <optional>
#include <unordered_set>
#include <vector>

#include "disk/volume.h"
#include "fs/fat_data.h"
#include "fs/item_reader.h"
#include "fs/lost_fat_folders.h"
#include "fs/ntfs_old_records.h"

namespace restorix {

ItemNode* LostFoldersIn(ItemTree& tree) {
  ItemNode* root = tree.root();
  for (ItemNode* child = root->firstChild; child; child = child->next) {
    if (child->isFolder() && child->id == kLostFoldersId && child->name == kLostFoldersName)
      return child;
  }
  ItemNode* folder = tree.NewNode();
  folder->name = kLostFoldersName;
  folder->id = kLostFoldersId;
  folder->parentId = root->id;
  folder->flags = ItemFlags::Live | ItemFlags::Folder;
  tree.AddChild(root, folder);
  return folder;
}

void RebuildLostTree(const Volume& volume, ItemTree& tree, TaskControl task) {
  if (tree.root() == nullptr) return;
  switch (volume.context().fsType()) {
    case FsType::Fat16:
    case FsType::Fat32:
    case FsType::Exfat:
      RebuildLostFatFolders(volume, tree, task);
      break;
    case FsType::Ntfs:
      ScanOldMftRecords(volume, tree, LostFoldersIn(tree), task);
      break;
    case FsType::None:
      break;
  }
}

namespace {

// Where a file's data starts, if on a sector. A FAT or exFAT file starts at
// its first cluster: no chain needs to be followed for that.
std::optional<std::uint64_t> FirstSector(const Volume& volume, const ItemNode& node) {
  if (const auto* chain = std::get_if<FatChain>(&node.location))
    return FatClusterSector(volume.context(), chain->firstCluster);
  const ItemReader reader(volume, node);
  const auto& segments = reader.map().segments;
  if (segments.empty() || segments.front().kind != StreamSegment::Kind::Sectors)
    return std::nullopt;
  return segments.front().sector;
}

}  // namespace

void DropCarvedDuplicates(const Volume& volume, ItemTree& tree) {
  std::vector<ItemNode*> carved, named;
  WalkTree(tree.root(), [&](ItemNode& node, int) {
    if (node.isFolder() || node.size == 0) return;
    (std::holds_alternative<Carved>(node.location) ? carved : named).push_back(&node);
  });
  if (carved.empty()) return;
  std::unordered_set<std::uint64_t> starts;
  for (const ItemNode* node : named)
    if (const auto sector = FirstSector(volume, *node)) starts.insert(*sector);
  for (ItemNode* node : carved) {
    if (!starts.contains(std::get<Carved>(node->location).firstSector)) continue;
    tree.Detach(node);
    tree.Discard(node);
  }
}

}  // namespace restorix
