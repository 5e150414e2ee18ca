// What Format Recovery finds of the tree a format left behind: the "Lost
// Folders" item that holds the old folders whose parents are gone, the
// rebuild that looks for them, and the removal of carved files that the
// rebuild (or the file-system scan) already lists by name.
#pragma once

#include <cstdint>

#include "catalogue/item_tree.h"
#include "task.h"

namespace restorix {

class Volume;

inline constexpr const char16_t* kLostFoldersName = u"Lost Folders";
// The id of "Lost Folders": above every cluster number a FAT32 or exFAT
// volume can have (at most 0xFFFFFFF6) and every MFT record number a real
// volume reaches, so that it never clashes with an id of the live tree.
inline constexpr std::uint32_t kLostFoldersId = 0xFFFFFFFF;

// The "Lost Folders" folder at the root of the tree, made (at the head of the
// root's children) when there is none.
ItemNode* LostFoldersIn(ItemTree& tree);

// Looks through the volume for the folders of an old file system that the
// file-system scan did not reach, and hangs what it rebuilds of them in the
// tree. Reports progress through the task and returns early once it is
// stopped; lets DeviceLostError pass.
void RebuildLostTree(const Volume& volume, ItemTree& tree, TaskControl task);

// Removes every carved file that starts at the first sector of a file the
// tree lists by name: the same file, found both ways.
void DropCarvedDuplicates(const Volume& volume, ItemTree& tree);

}  // namespace restorix
