// Where an NTFS item's data lies: the records named by its extents are read
// again and their $DATA attributes mapped, resident, plain, sparse or
// LZNT1-compressed.
#pragma once

#include <cstdint>

#include "catalogue/item_tree.h"
#include "fs/item_reader.h"

namespace restorix {

class Volume;

// The map of the item's data: every run in VCN order, sparse runs and
// compressed zero units as zeros, bytes past the initialised size as zeros,
// mapped until `size` bytes are, or until the last run: the map never goes
// past the stream's runs, whatever its size claims. A record that no longer
// passes its checks ends the map with what was mapped. Raises
// DeviceLostError for a lost source.
StreamMap MapNtfsStream(const Volume& volume, const NtfsRecord& record, std::uint64_t size);

}  // namespace restorix
