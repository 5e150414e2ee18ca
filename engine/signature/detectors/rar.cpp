// RAR archives, both block formats. RAR 4: blocks with a 7-byte header
// (CRC-16 of the header, type, flags, header size), file and sub-blocks
// followed by their packed data; the archive ends with its end block (0x7B).
// RAR 5: blocks with a CRC-32, a header size and type as variable-length
// numbers, and a data area whose size the header gives; the archive ends
// with its end-of-archive header (type 5). Every header's CRC is checked. An
// archive whose headers are encrypted cannot be walked past its start; it
// is confirmed without a length.

#include <zlib.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "signature/detectors/detectors.h"

namespace restorix {

namespace {

std::uint32_t Crc32(SourceBytes& bytes, std::uint64_t pos, std::uint64_t length) {
  std::vector<std::uint8_t> data(static_cast<std::size_t>(length));
  bytes.Read(pos, data);
  return static_cast<std::uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
}

// RAR 4. The header CRC is the low 16 bits of the CRC-32 of the header from
// its type byte on.
constexpr std::uint8_t kMarkBlock = 0x72, kArchiveHeader = 0x73, kFileHeader = 0x74,
                       kNewSubBlock = 0x7A, kEndBlock = 0x7B;
constexpr std::uint16_t kEncryptedHeaders = 0x0080, kLargeFile = 0x0100, kLongBlock = 0x8000;

std::uint32_t DetectRar4(DetectorContext& context, SourceBytes& bytes, SignatureRecord& record) {
  const std::uint64_t limit = bytes.bytesLeft();
  std::uint64_t pos = 7;  // after the marker block
  bool first = true;
  while (pos < limit && context.running()) {
    const std::uint8_t type = bytes.u8(pos + 2);
    const std::uint16_t flags = bytes.le16(pos + 3);
    const std::uint64_t headerSize = bytes.le16(pos + 5);
    if (type < kMarkBlock || type > kEndBlock || headerSize < 7 ||
        (Crc32(bytes, pos + 2, headerSize - 2) & 0xFFFF) != bytes.le16(pos)) {
      break;
    }
    if (first && type != kArchiveHeader) return 0;
    std::uint64_t data = 0;
    if (type == kFileHeader || type == kNewSubBlock) {
      data = bytes.le32(pos + 7);
      if ((flags & kLargeFile) != 0) data |= std::uint64_t{bytes.le32(pos + 32)} << 32;
    } else if ((flags & kLongBlock) != 0) {
      data = bytes.le32(pos + 7);
    }
    const auto next = CheckedAdd(pos + headerSize, data);
    if (!next) break;
    pos = *next;
    if (type == kEndBlock) break;
    if (first && (flags & kEncryptedHeaders) != 0) return 1;
    first = false;
  }
  return first ? 0 : ConfirmAndSkip(record, std::min(pos, limit));
}

// RAR 5. Variable-length numbers: 7 bits a byte, low bits first, the top
// bit set on every byte but the last.
std::optional<std::uint64_t> VarInt(SourceBytes& bytes, std::uint64_t& pos) {
  std::uint64_t value = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    const std::uint8_t b = bytes.u8(pos++);
    value |= std::uint64_t{b & 0x7Fu} << shift;
    if ((b & 0x80) == 0) return value;
  }
  return std::nullopt;
}

constexpr std::uint64_t kMainHeader = 1, kEncryptionHeader = 4, kEndOfArchive = 5;
constexpr std::uint64_t kExtraArea = 0x0001, kDataArea = 0x0002;
constexpr std::uint64_t kLargestHeader = 2 << 20;

std::uint32_t DetectRar5(DetectorContext& context, SourceBytes& bytes, SignatureRecord& record) {
  const std::uint64_t limit = bytes.bytesLeft();
  std::uint64_t pos = 8;  // after the signature
  bool first = true;
  while (pos < limit && context.running()) {
    std::uint64_t at = pos + 4;
    const auto headerSize = VarInt(bytes, at);
    if (!headerSize || *headerSize == 0 || *headerSize > kLargestHeader ||
        Crc32(bytes, pos + 4, at - pos - 4 + *headerSize) != bytes.le32(pos)) {
      break;
    }
    const std::uint64_t headerEnd = at + *headerSize;
    const auto type = VarInt(bytes, at);
    const auto flags = VarInt(bytes, at);
    if (!type || !flags) break;
    if (first && *type == kEncryptionHeader) return 1;
    if (first && *type != kMainHeader) return 0;
    if ((*flags & kExtraArea) != 0 && !VarInt(bytes, at)) break;
    std::uint64_t data = 0;
    if ((*flags & kDataArea) != 0) {
      const auto size = VarInt(bytes, at);
      if (!size) break;
      data = *size;
    }
    const auto next = CheckedAdd(headerEnd, data);
    if (!next) break;
    pos = *next;
    first = false;
    if (*type == kEndOfArchive) break;
  }
  return first ? 0 : ConfirmAndSkip(record, std::min(pos, limit));
}

}  // namespace

std::uint32_t DetectRar(DetectorContext& context, std::uint64_t hit, SignatureRecord& record) {
  SourceBytes bytes(context.volume, hit, 16);
  if (!bytes.Matches(0, "Rar!\x1A\x07")) return 0;
  if (bytes.u8(6) == 0x00) return DetectRar4(context, bytes, record);
  if (bytes.u8(6) == 0x01 && bytes.u8(7) == 0x00) return DetectRar5(context, bytes, record);
  return 0;
}

}  // namespace restorix
