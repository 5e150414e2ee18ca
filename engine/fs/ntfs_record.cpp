#include "fs/ntfs_record.h"

namespace restorix {

bool IsValidAttributeType(std::uint32_t type) {
  return type == 0x100 || (type >= 0x10 && type <= 0xF0 && type % 0x10 == 0);
}

bool CheckMftRecord(MutableBytes record, const VolumeContext& context) {
  const std::uint32_t recordBytes = context.mftRecordBytes();
  if (recordBytes == 0 || record.size() < recordBytes) return false;
  Bytes r = record.first(recordBytes);

  if (le32(r, 0) != 0x454C4946) return false;  // "FILE"
  const std::uint16_t usaOffset = le16(r, 0x04);
  const std::uint16_t usaCount = le16(r, 0x06);
  const std::uint16_t firstAttribute = FirstAttributeOffset(r);
  if (usaOffset != 0x2A && usaOffset != 0x30) return false;
  if (usaCount == 0 || usaCount - 1u != recordBytes / kFixupBlock) return false;
  if (firstAttribute % 8 != 0) return false;

  std::uint32_t span = 2u * usaCount;
  if (span % 8 != 0) {
    span = (span + 7) / 8 * 8;
    if (usaOffset == 0x2A) span -= 2;
  }
  if (firstAttribute != usaOffset + span) return false;

  const std::uint32_t inUse = BytesInUse(r);
  const std::uint32_t allocated = le32(r, 0x1C);
  if (inUse > allocated || allocated != recordBytes || inUse % 8 != 0 || allocated % 8 != 0) {
    return false;
  }

  const std::uint16_t checkWord = le16(r, usaOffset);
  std::uint32_t slot = 1;
  for (std::uint32_t end = kFixupBlock; end <= inUse; end += kFixupBlock, ++slot) {
    if (le16(record, end - 2) != checkWord) return false;
    StoreLE<std::uint16_t>(record, end - 2, le16(r, usaOffset + 2u * slot));
  }

  // The attribute types must all be known ones. A zero length or one that
  // runs past the bytes in use ends the walk like the end marker does.
  std::uint32_t offset = firstAttribute;
  while (offset < inUse) {
    const std::uint32_t type = le32(r, offset);
    if (type == ATTR_END) break;
    if (!IsValidAttributeType(type)) return false;
    const std::uint32_t length = le32(r, offset + 4);
    if (length == 0 || length > inUse - offset) break;
    offset += length;
  }
  return true;
}

AttributeWalk::AttributeWalk(Bytes record, std::uint32_t start) : record_(record), offset_(start) {
  const std::uint32_t inUse = BytesInUse(record);
  end_ = static_cast<std::uint32_t>(std::min<std::size_t>(inUse, record.size()));
}

std::optional<Attribute> AttributeWalk::Next() {
  if (offset_ >= end_ || end_ - offset_ < 8) return std::nullopt;
  Attribute attribute{record_, offset_};
  const std::uint32_t length = attribute.length();
  if (attribute.type() == ATTR_END || length == 0 || length > end_ - offset_) {
    offset_ = end_;
    return std::nullopt;
  }
  offset_ += length;
  return attribute;
}

void DecodeRunList(Bytes attribute, std::size_t offset, std::vector<RunNode>& runs) {
  std::uint64_t cluster = 0;
  while (offset < attribute.size()) {
    const std::uint8_t header = attribute[offset];
    if (header == 0) break;
    const unsigned lengthBytes = header & 0x0F;
    const unsigned offsetBytes = header >> 4;
    if (lengthBytes > 8 || offsetBytes > 8) break;
    if (attribute.size() - offset < 1u + lengthBytes + offsetBytes) break;

    std::uint64_t count = 0;
    for (unsigned i = 0; i < lengthBytes; ++i) {
      count |= static_cast<std::uint64_t>(attribute[offset + 1 + i]) << (8 * i);
    }
    RunNode run{count, 0};
    if (offsetBytes > 0) {
      std::uint64_t delta = 0;
      const std::size_t field = offset + 1 + lengthBytes;
      for (unsigned i = 0; i < offsetBytes; ++i) {
        delta |= static_cast<std::uint64_t>(attribute[field + i]) << (8 * i);
      }
      if (offsetBytes < 8 && (attribute[field + offsetBytes - 1] & 0x80)) {
        delta |= ~std::uint64_t{0} << (8 * offsetBytes);  // sign-extend
      }
      cluster += delta;  // wraps like the signed sum it stands for
      run.startCluster = cluster;
    }
    runs.push_back(run);
    offset += 1 + lengthBytes + offsetBytes;
  }
}

std::optional<AttributeListEntry> ReadAttributeListEntry(Bytes list, std::size_t offset) {
  constexpr std::size_t kHeaderBytes = 0x1A;
  if (offset >= list.size() || list.size() - offset < kHeaderBytes) return std::nullopt;
  AttributeListEntry entry;
  entry.type = le32(list, offset);
  entry.length = le16(list, offset + 0x04);
  // An entry shorter than its own fields would overlap the next one.
  if (entry.length < kHeaderBytes || entry.length > list.size() - offset) return std::nullopt;
  entry.firstVcn = le64(list, offset + 0x08);
  entry.recordNumber = le32(list, offset + 0x10);
  entry.attributeId = le16(list, offset + 0x18);
  return entry;
}

}  // namespace restorix
