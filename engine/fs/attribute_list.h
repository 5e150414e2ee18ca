// Attribute lists: where the attributes of a record that outgrew itself lie.
#pragma once

#include <vector>

#include "fs/ntfs_record.h"

namespace restorix {

class Volume;

// The bytes of an attribute list: for a resident list, from its value offset
// to the end of the attribute; for a non-resident one, its clusters read in
// run order up to its data size (at most 1 MiB).
std::vector<std::uint8_t> ReadAttributeList(const Volume& volume, const Attribute& list);

// The $DATA entries of a list, in list order. Entries of lower types are
// passed over; an entry above $DATA, or of a type that no attribute has, ends
// the list, as does a zero or overlong entry length.
std::vector<AttributeListEntry> DataEntries(Bytes list);

}  // namespace restorix
