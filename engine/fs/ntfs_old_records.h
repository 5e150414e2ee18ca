// What a quick format leaves of an NTFS volume's old tree. A quick format
// writes a new master file table over the start of the old one only; the
// rest of the old table, and the records of its fragments elsewhere, stay in
// the volume's free clusters. This pass finds those FILE records, rebuilds
// the old folders from the parent references of their file names, and lists
// the old files with their names, sizes, dates and data.
//
// An item found this way is an ordinary NTFS item whose extents name the
// old record where it lies in the data area (its sector and the $DATA
// attribute's offset), so the ItemReader reads it as it reads any deleted
// file, from the old record and never from the current MFT record with the
// same number; a scan-information file keeps the old record's position in
// those extents, in the format it always had.
#pragma once

#include <cstdint>
#include <optional>

#include "catalogue/item_tree.h"
#include "task.h"
#include "util/bytes.h"

namespace restorix {

class Volume;

// The number an NTFS 3.1 record keeps of itself (offset 0x2C); nullopt for
// the older layout, which keeps none.
std::optional<std::uint32_t> OwnRecordNumber(Bytes record);

// Whether the sector lies inside one of the current MFT's runs.
bool InCurrentMft(const Volume& volume, std::uint64_t sector);

// Reads the volume's clusters outside the current MFT and those its bitmap
// gives to files, front to back in large pieces, for intact FILE records of
// the volume's record size. Folders whose parent folder is not found hang
// under `lostFolders`, files whose folder is gone under a folder "#<number>"
// there, and what the old root held straight under it. Items are deleted
// files and folders (the volume no longer knows them). Reports progress as
// (sectors read, sectors of the volume); returns early once the task is
// stopped, keeping what was found; lets DeviceLostError pass.
void ScanOldMftRecords(const Volume& volume, ItemTree& tree, ItemNode* lostFolders,
                       TaskControl task);

}  // namespace restorix
