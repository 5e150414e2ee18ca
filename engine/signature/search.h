// The signature search: the whole source is read in runs of 63 sectors, and
// at the start of every sector the bytes where the selected types keep their
// signatures are looked up. A hit goes to the type's detector; a confirmed
// hit becomes a carved item under "Raw Data", by category and extension.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "signature/signature_record.h"

namespace restorix {

class Engine;
struct ItemNode;

inline constexpr std::uint32_t kSearchRunSectors = 63;
inline constexpr std::uint64_t kDefaultCarvedSize = 2 * 1024 * 1024;
inline constexpr const char16_t* kRawDataFolder = u"Raw Data";

// Searches the open source for the types in engine.selectedTypes (which it
// consumes) and adds what it finds under a new "Raw Data" folder at the head
// of the root's children. Reports progress as (sector, total sectors).
// Returns keepRunning; a lost device passes up.
std::uint32_t RunSignatureSearch(Engine& engine);

// Makes the carved item for a confirmed hit at `start`.
void AddCarvedItem(Engine& engine, ItemNode* rawData, std::uint64_t start,
                   const SignatureRecord& record);

// The list the search takes: every type of `table` that `selected` picks, in
// reverse table order (the later a type is in the table, the earlier it is
// tried), each given `assumedSize` as the size of what is carved when its
// length cannot be worked out, and a fallback size of at least 1.
std::vector<SignatureRecord> SelectTypes(
    const std::vector<SignatureRecord>& table,
    const std::function<bool(const SignatureRecord&)>& selected, std::uint32_t assumedSize);

}  // namespace restorix
