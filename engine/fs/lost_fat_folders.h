// The rebuild of FAT16, FAT32 and exFAT folders that a quick format (or a
// deletion whose parent entry is gone) left in the data area.
#pragma once

#include "catalogue/item_tree.h"
#include "task.h"

namespace restorix {

class Volume;

// Reads every free cluster of the data area that no folder of the tree
// holds for the first clusters of old folders: on FAT a "." entry naming the
// cluster and a ".." entry after it, on exFAT an entry set that passes its
// checksum at the cluster's start. Each folder found is read with its files
// and sub-folders (on into the clusters after it while they go on with its
// entries; an exFAT folder that a parent's entry names, as far as that entry
// says). A folder hangs under the folder whose entry names its first
// cluster, on FAT only where its ".." names that folder back, else under the
// folder its ".." names; one whose parent is not found hangs under "Lost
// Folders" as "#<first cluster>". Everything found counts as deleted.
// Reports progress as (clusters looked at, clusters); returns early once
// the task is stopped; lets DeviceLostError pass.
void RebuildLostFatFolders(const Volume& volume, ItemTree& tree, TaskControl task);

}  // namespace restorix
