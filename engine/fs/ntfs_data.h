// Reading an NTFS item's data back: the records named by its extents are read
// again and their $DATA attributes written out, resident, plain, sparse or
// LZNT1-compressed.
#pragma once

namespace restorix {

class Engine;
struct ItemNode;

// Writes exactly the item's data into the open file `out`: every run in VCN
// order, sparse runs and compressed zero units as zeros, bytes past the
// initialised size as zeros, cut at the item's size. A record that no longer
// passes its checks ends the item with what was written. Raises
// DeviceLostError for a lost source or a failed write.
void WriteNtfsData(Engine& engine, const ItemNode& node, int out);

}  // namespace restorix
