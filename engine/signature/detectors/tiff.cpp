// TIFF and the camera raw formats built on it (Canon CR2, Nikon NEF). A TIFF
// has no length field: its size is where the furthest data that one of its
// IFDs points at ends. The walk follows the IFD chain (and for NEF the
// sub-IFDs) and stops at the first IFD that does not look like one.
#include <algorithm>
#include <array>
#include <unordered_set>

#include "signature/detectors/detectors.h"

namespace restorix {

namespace {

constexpr std::uint32_t kCr2Marker = 0x00025243;  // "CR", 2, 0
constexpr std::uint64_t kNikonSearchEnd = 1012;   // "NIKO" may start at 0..1011
// IFD chains on a damaged disk can be long or loop; real files have a handful.
constexpr std::uint32_t kMaxIfds = 1024;
constexpr std::size_t kSubIfdSlots = 32;

constexpr std::uint16_t kStripOffsets = 273;
constexpr std::uint16_t kStripByteCounts = 279;
constexpr std::uint16_t kTileOffsets = 324;
constexpr std::uint16_t kTileByteCounts = 325;
constexpr std::uint16_t kSubIfds = 330;

enum FieldType : std::uint16_t {
  kByte = 1,
  kAscii = 2,
  kShort = 3,
  kLong = 4,
  kRational = 5,
  kSByte = 6,
  kUndefined = 7,
  kSShort = 8,
  kSLong = 9,
  kSRational = 10,
  kFloat = 11,
  kDouble = 12,
};

struct Rules {
  bool bothByteOrders;
  std::uint16_t entryLimit;
  bool fullValidation;
  bool tiles;
  bool subIfds;
};

Rules RulesFor(TiffVariant variant) {
  switch (variant) {
    case TiffVariant::LittleEndian:
      return {false, 30, true, false, false};
    case TiffVariant::Cr2:
      return {true, 50, false, true, false};
    case TiffVariant::Nef:
      return {true, 50, true, true, true};
    case TiffVariant::Generic:
      break;
  }
  return {true, 50, true, true, false};
}

class TiffReader {
 public:
  TiffReader(SourceBytes& bytes, bool bigEndian) : bytes_(bytes), bigEndian_(bigEndian) {}
  std::uint16_t u16(std::uint64_t pos) { return bigEndian_ ? bytes_.be16(pos) : bytes_.le16(pos); }
  std::uint32_t u32(std::uint64_t pos) { return bigEndian_ ? bytes_.be32(pos) : bytes_.le32(pos); }
  bool bigEndian() const { return bigEndian_; }

 private:
  SourceBytes& bytes_;
  bool bigEndian_;
};

struct Entry {
  std::uint16_t tag;
  std::uint16_t type;
  std::uint32_t count;
  std::uint32_t value;  // the value field; for short values the first is the low half
};

Entry ReadEntry(TiffReader& reader, std::uint64_t pos) {
  Entry entry{reader.u16(pos), reader.u16(pos + 2), reader.u32(pos + 4), reader.u32(pos + 8)};
  // A big-endian value field read as one number puts the first SHORT in the
  // high half; exchanging the halves lets both byte orders be read alike.
  if (reader.bigEndian() && entry.type == kShort && entry.count < 3) {
    entry.value = (entry.value >> 16) | (entry.value << 16);
  }
  return entry;
}

std::uint64_t ElementSize(std::uint16_t type) {
  switch (type) {
    case kByte:
    case kAscii:
    case kSByte:
    case kUndefined:
      return 1;
    case kShort:
    case kSShort:
      return 2;
    case kLong:
    case kSLong:
    case kFloat:
      return 4;
    case kRational:
    case kSRational:
    case kDouble:
      return 8;
    default:
      return 0;
  }
}

bool FitsValueField(const Entry& entry) {
  return ElementSize(entry.type) * entry.count <= 4;
}

bool ValidEntry(const Entry& entry, bool full) {
  if (entry.count == 0 || entry.type < kByte || entry.type > kDouble) return false;
  if (!full) return true;
  const bool shortArray = (entry.type == kShort || entry.type == kSShort) && entry.count >= 3;
  const bool longArray = (entry.type == kLong || entry.type == kSLong) && entry.count >= 2;
  return !((shortArray || longArray) && entry.value % 2 != 0);
}

// The last value of a strip or tile offsets or byte-counts entry.
std::uint64_t LastValue(TiffReader& reader, const Entry& entry) {
  if (entry.count == 1) return entry.value;
  if (entry.type == kShort) {
    if (entry.count == 2) return entry.value >> 16;
    return reader.u16(std::uint64_t{entry.value} + 2 * std::uint64_t{entry.count} - 2);
  }
  if (entry.type == kLong) {
    return reader.u32(std::uint64_t{entry.value} + 4 * std::uint64_t{entry.count} - 4);
  }
  return 0;
}

bool HasNikonMarker(SourceBytes& bytes) {
  for (std::uint64_t pos = 0; pos < kNikonSearchEnd; ++pos) {
    if (bytes.Matches(pos, "NIKO")) return true;
  }
  return false;
}

}  // namespace

std::uint32_t DetectTiffFamily(DetectorContext& context, std::uint64_t hit, SignatureRecord& record,
                               TiffVariant variant) {
  const Rules rules = RulesFor(variant);
  SourceBytes bytes(context.volume, hit, 4);

  const bool cr2Marker = bytes.le32(8) == kCr2Marker;
  switch (variant) {
    case TiffVariant::Cr2:
      if (!cr2Marker) return 0;
      break;
    case TiffVariant::Nef:
      if (!HasNikonMarker(bytes)) return 0;
      break;
    case TiffVariant::Generic:
      // Left to the CR2 and NEF types, which know where their raw data lies.
      if (cr2Marker || HasNikonMarker(bytes)) return 0;
      break;
    case TiffVariant::LittleEndian:
      break;
  }

  const bool bigEndian = rules.bothByteOrders && bytes.Matches(0, std::string_view("MM\0*", 4));
  TiffReader reader(bytes, bigEndian);
  std::uint64_t offset = reader.u32(4);
  if (offset % 2 != 0) return 0;

  std::array<std::uint32_t, kSubIfdSlots> subIfds{};
  std::size_t subIfdRead = 0;
  std::unordered_set<std::uint64_t> seen;
  std::uint64_t size = 0;

  while (offset != 0 && seen.size() < kMaxIfds && context.running()) {
    // An offset seen before means the chain loops; what was walked stands.
    if (!seen.insert(offset).second) break;

    const std::uint16_t n = reader.u16(offset);
    if (n > rules.entryLimit) break;
    const std::uint64_t first = offset + 2;
    const std::uint64_t next = reader.u32(first + 12 * std::uint64_t{n});
    if (rules.fullValidation && (offset % 2 != 0 || next % 2 != 0)) break;

    bool valid = true;
    std::uint64_t dataEnd = 0;
    std::uint64_t lastOffset = 0;
    std::uint64_t lastByteCount = 0;
    for (std::uint64_t i = 0; i < n; ++i) {
      const Entry entry = ReadEntry(reader, first + 12 * i);
      if (!ValidEntry(entry, rules.fullValidation)) {
        valid = false;
        break;
      }
      // Every out-of-line value counts, wherever it lies: data at a lower
      // offset can still reach past what came before it.
      if (!FitsValueField(entry)) {
        dataEnd = std::max(dataEnd, entry.value + entry.count * ElementSize(entry.type));
      }
      const bool tiles = rules.tiles && (entry.tag == kTileOffsets || entry.tag == kTileByteCounts);
      if (entry.tag == kStripOffsets || (tiles && entry.tag == kTileOffsets)) {
        lastOffset = LastValue(reader, entry);
      } else if (entry.tag == kStripByteCounts || (tiles && entry.tag == kTileByteCounts)) {
        lastByteCount = LastValue(reader, entry);
      }
      if (rules.subIfds && entry.tag == kSubIfds) {
        if (entry.count == 1) {
          subIfds[0] = entry.value;
        } else {
          const std::uint64_t used = std::min<std::uint64_t>(entry.count, kSubIfdSlots);
          for (std::uint64_t k = 0; k < used; ++k) {
            subIfds[k] = reader.u32(std::uint64_t{entry.value} + 4 * k);
          }
        }
      }
    }
    if (!valid) break;

    // The directory itself belongs to the file too (writers often put it
    // last), once it describes any data at all.
    const std::uint64_t imageEnd = lastOffset + lastByteCount;
    if (dataEnd != 0 || imageEnd != 0) {
      const std::uint64_t directoryEnd = first + 12 * std::uint64_t{n} + 4;
      size = std::max({size, dataEnd, imageEnd, directoryEnd});
    }

    offset = next;
    if (offset == 0 && rules.subIfds && subIfdRead < kSubIfdSlots) {
      offset = subIfds[subIfdRead++];
    }
  }

  if (size == 0) return 0;
  return ConfirmAndSkip(record, size);
}

}  // namespace restorix
