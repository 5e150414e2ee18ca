// The FAT scan: the folder structure is walked from the root directory, and
// every deleted file and every folder, with long names where the entries
// still hold them, becomes an item.
#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>

#include "catalogue/item_tree.h"
#include "task.h"
#include "util/bytes.h"

namespace restorix {

class Volume;
class VolumeContext;

// Walks the folder tree from the tree's root depth first, reading each
// folder and reporting progress as (items done, deleted files found). Stops
// when the task is stopped; lets DeviceLostError pass.
void ScanFatFolderTree(const Volume& volume, ItemTree& tree, TaskControl task);

// Reads a folder's entries and adds them as its children. False when the
// first cluster no longer holds this folder (it fails the folder check), so
// nothing was taken from it. The walk does not read a folder again once its
// first cluster was read as its own (a loop on a damaged volume).
bool ReadFatFolder(const Volume& volume, ItemTree& tree, ItemNode* folder);

// What the parse of one folder carries from one of its buffers to the next.
struct FolderParse {
  // The deleted folders among the folder's children, by first cluster, so
  // that a later entry for the same folder merges into them.
  std::unordered_map<std::uint32_t, ItemNode*> deleted;
  // The long-name pieces met so far: a name's entries may begin in one
  // cluster and its short entry lie in the next.
  std::u16string longName;
  bool collecting = false;  // inside a run of long-name entries
  bool longNameTooLong = false;
  // The checksum of the short name that the pieces carry; nullopt once two
  // pieces disagree.
  std::optional<std::uint8_t> longNameSum;
};

// The checksum of a short entry's 11 name bytes that each long-name piece of
// its name carries at byte 13.
std::uint8_t FatShortNameSum(Bytes entry);

// Parses the 32-byte entries of one buffer of `folder`, the buffers of a
// folder in order with the same `parse`. A long name whose pieces do not
// carry the checksum of the short entry after them, or whose first piece is
// not the one marked last, is not the entry's whole name: the short name is
// taken (for an entry not deleted: a deleted one has lost the first byte the
// sum counts). True when the folder ends inside
// it (an end marker, an invalid entry or a failed folder check); false when
// the buffer was used up and the next cluster should be read.
bool ParseFatDirectoryBuffer(const VolumeContext& context, ItemTree& tree, Bytes buffer,
                             ItemNode* folder, FolderParse& parse);

}  // namespace restorix
