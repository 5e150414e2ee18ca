// The selected file types arranged for the walk: one group per (length,
// offset) of signature, in the order the pairs first occur, each with an
// exact-match table from signature bytes to the type that owns them and the
// further types (aliases) that share them. Types that share both signature
// and detector are one family: the detector speaks for all of them.
#pragma once

#include <bitset>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "signature/signature_record.h"

namespace restorix {

struct DetectorEntry;

struct IndexEntry {
  SignatureRecord record;                   // the first type with these bytes
  std::vector<std::string> aliases;         // extensions of the later ones, in order,
                                            // but for the owner's own family
  const DetectorEntry* detector = nullptr;  // the record's; null: the signature confirms it
};

struct SignatureGroup {
  std::uint8_t sigLength = 0;
  std::uint16_t sigOffset = 0;

  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const {
      return std::hash<std::string_view>{}(key);
    }
  };
  // Keyed by the signature bytes themselves, so that two different byte runs
  // can never share an entry.
  std::unordered_map<std::string, IndexEntry, Hash, std::equal_to<>> entries;
  // The first byte of every key: most sectors are turned away by it.
  std::bitset<256> firstBytes;
  // In the two-byte group at offset 0, the entry of a type without a fixed
  // signature (MPEG audio, keyed by its "ID" tag) that every sector is first
  // offered to; null elsewhere.
  const IndexEntry* everySector = nullptr;
  // Whether a sector that entry's prefilter turns away is still looked up
  // by its own bytes in this group (its detector's rule, asked once here).
  bool lookUpAfterRefusal = false;

  const IndexEntry* Find(std::string_view key) const {
    // Most sectors are turned away here, without hashing anything.
    if (key.empty() || !firstBytes[static_cast<std::uint8_t>(key[0])]) return nullptr;
    const auto found = entries.find(key);
    return found == entries.end() ? nullptr : &found->second;
  }
};

// Builds the groups from the selected types, in list order.
std::vector<SignatureGroup> BuildSignatureIndex(const std::vector<SignatureRecord>& selected);

}  // namespace restorix
