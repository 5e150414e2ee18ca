// NTFS master file table records: validation with update-sequence fixups,
// attribute headers, run lists and attribute-list entries. Every walk here is
// bounded by its buffer and stops on a zero length.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "disk/volume_context.h"
#include "util/bytes.h"
#include "util/text.h"

namespace restorix {

// One decoded run: clusterCount clusters from startCluster (0: sparse).
struct RunNode {
  std::uint64_t clusterCount = 0;
  std::uint64_t startCluster = 0;
  friend bool operator==(const RunNode&, const RunNode&) = default;
};

inline constexpr std::uint32_t ATTR_STANDARD_INFORMATION = 0x10;
inline constexpr std::uint32_t ATTR_ATTRIBUTE_LIST = 0x20;
inline constexpr std::uint32_t ATTR_FILE_NAME = 0x30;
inline constexpr std::uint32_t ATTR_DATA = 0x80;
inline constexpr std::uint32_t ATTR_END = 0xFFFFFFFF;

// The attribute types a record may carry: 0x10, 0x20, ... 0xF0 and 0x100.
bool IsValidAttributeType(std::uint32_t type);

// Update-sequence fixups protect every 512-byte block of a record, whatever
// the device's sector size.
inline constexpr std::uint32_t kFixupBlock = 512;

// Record header fields.
inline std::uint16_t FirstAttributeOffset(Bytes r) {
  return le16(r, 0x14);
}
inline std::uint16_t SequenceNumber(Bytes r) {
  return le16(r, 0x10);
}
inline std::uint16_t RecordFlags(Bytes r) {
  return le16(r, 0x16);
}
inline std::uint32_t BytesInUse(Bytes r) {
  return le32(r, 0x18);
}
inline std::uint64_t BaseRecordReference(Bytes r) {
  return le64(r, 0x20);
}

// Validates one MFT record of context.mftRecordBytes() bytes and applies its
// fixups in place. False for anything that is not an intact record.
bool CheckMftRecord(MutableBytes record, const VolumeContext& context);

// One attribute header inside a record.
struct Attribute {
  Bytes record;
  std::uint32_t offset = 0;

  std::uint32_t type() const { return le32(record, offset); }
  std::uint32_t length() const { return le32(record, offset + 0x04); }
  bool nonResident() const { return u8(record, offset + 0x08) != 0; }
  std::uint16_t flags() const { return le16(record, offset + 0x0C); }
  std::uint16_t id() const { return le16(record, offset + 0x0E); }
  // Resident attributes.
  std::uint32_t valueLength() const { return le32(record, offset + 0x10); }
  std::uint16_t valueOffset() const { return le16(record, offset + 0x14); }
  Bytes value() const { return Slice(bytes(), valueOffset(), valueLength()); }
  // Non-resident attributes.
  std::uint64_t firstVcn() const { return le64(record, offset + 0x10); }
  std::uint64_t lastVcn() const { return le64(record, offset + 0x18); }
  std::uint16_t runListOffset() const { return le16(record, offset + 0x20); }
  std::uint16_t compressionUnit() const { return le16(record, offset + 0x22); }
  std::uint64_t dataSize() const { return le64(record, offset + 0x30); }
  std::uint64_t initialisedSize() const { return le64(record, offset + 0x38); }
  // The attribute's name (empty for the unnamed stream).
  std::u16string name() const {
    return Utf16FromLittleEndian(
        Slice(bytes(), le16(record, offset + 0x0A), 2 * std::size_t{u8(record, offset + 0x09)}));
  }
  // The attribute's own bytes, cut at the end of the record buffer.
  Bytes bytes() const { return Slice(record, offset, length()); }
};

// Walks attribute headers from `start` while below the record's bytes in use.
// Ends at the end marker, at a zero length and at a length that runs past the
// bytes in use; the header it ended on is not returned.
class AttributeWalk {
 public:
  AttributeWalk(Bytes record, std::uint32_t start);
  std::optional<Attribute> Next();

 private:
  Bytes record_;
  std::uint32_t offset_;
  std::uint32_t end_;
};

// Decodes the mapping pairs at `offset` of an attribute's bytes and appends
// the runs to `runs`. Decoding ends at a zero header byte, at a pair that
// would run past the attribute, or at a field wider than 8 bytes.
void DecodeRunList(Bytes attribute, std::size_t offset, std::vector<RunNode>& runs);

// One entry of an attribute list.
struct AttributeListEntry {
  std::uint32_t type = 0;
  std::uint16_t length = 0;
  std::uint64_t firstVcn = 0;
  std::uint32_t recordNumber = 0;
  std::uint16_t attributeId = 0;
};

// Reads the entry at `offset`; nullopt when its header does not fit or its
// length is zero or runs past the buffer.
std::optional<AttributeListEntry> ReadAttributeListEntry(Bytes list, std::size_t offset);

}  // namespace restorix
