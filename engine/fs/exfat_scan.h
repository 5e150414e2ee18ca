// The exFAT scan: the folder structure is walked from the root folder, and
// every deleted file and every folder whose entry set still passes its
// checksum becomes an item.
#pragma once

#include <vector>

#include "catalogue/item_tree.h"
#include "fs/exfat_data.h"
#include "task.h"

namespace restorix {

class Volume;

// Walks the folder tree from the tree's root depth first, reporting progress
// as (items done, deleted files found). A deleted folder whose first cluster
// the allocation bitmap gives to something else now is listed but not read:
// its clusters no longer hold its entries. Stops when the task is stopped;
// lets DeviceLostError pass.
void ScanExfatFolderTree(const Volume& volume, ItemTree& tree, TaskControl task);

// Adds the entry sets of `folder` as its children, in the folder's order.
// Live files are not listed; everything inside a deleted folder counts as
// deleted.
void AddExfatFolderItems(ItemTree& tree, ItemNode* folder, const std::vector<ExfatEntrySet>& sets);

}  // namespace restorix
