// The signature search: the whole source is read in runs of 63 sectors, and
// at the start of every sector the bytes where the selected types keep their
// signatures are looked up. A hit goes to the type's detector; a confirmed
// hit becomes a carved item under "Raw Data", by category and extension.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/item_tree.h"
#include "signature/signature_record.h"
#include "task.h"

namespace restorix {

class Volume;
class VolumeContext;

inline constexpr std::uint32_t kSearchRunSectors = 63;
inline constexpr std::uint64_t kDefaultCarvedSize = 2 * 1024 * 1024;
inline constexpr const char16_t* kRawDataFolder = u"Raw Data";

// Searches the volume for the types of `searchOrder` (see SearchOrder) and
// adds what it finds under a new "Raw Data" folder at the head of the root's
// children. Reports progress as (sector, total sectors) and returns early
// once the task is stopped; a lost device passes up.
void RunSignatureSearch(const Volume& volume, ItemTree& tree,
                        const std::vector<SignatureRecord>& searchOrder, TaskControl task);

// Makes the carved item for a confirmed hit at `start`, under
// rawData/<category>/<extension>, and returns it.
ItemNode* AddCarvedItem(ItemTree& tree, const VolumeContext& context, ItemNode* rawData,
                        std::uint64_t start, const SignatureRecord& record);

// The list the search takes, from the chosen types in type-table order: the
// same types in reverse order (the later a type is in the table, the earlier
// it is tried), each marked selected, given `assumedSize` as the size of what
// is carved when its length cannot be worked out, and a fallback size of at
// least 1.
std::vector<SignatureRecord> SearchOrder(const std::vector<SignatureRecord>& chosen,
                                         std::uint32_t assumedSize);

}  // namespace restorix
