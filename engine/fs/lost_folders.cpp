#include "fs/lost_folders.h"

#include <unordered_set>
#include <vector>

#include "disk/volume.h"
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

void DropCarvedDuplicates(const Volume& volume, ItemTree& tree) {
  std::unordered_set<std::uint64_t> named;
  std::vector<ItemNode*> carved;
  WalkTree(tree.root(), [&](ItemNode& node, int) {
    if (node.isFolder() || node.size == 0) return;
    if (std::holds_alternative<Carved>(node.location)) {
      carved.push_back(&node);
      return;
    }
    const ItemReader reader(volume, node);
    const auto& segments = reader.map().segments;
    if (!segments.empty() && segments.front().kind == StreamSegment::Kind::Sectors)
      named.insert(segments.front().sector);
  });
  for (ItemNode* node : carved) {
    if (!named.contains(std::get<Carved>(node->location).firstSector)) continue;
    tree.Detach(node);
    tree.Discard(node);
  }
}

}  // namespace restorix
