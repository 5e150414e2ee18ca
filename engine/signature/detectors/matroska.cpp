// Matroska and WebM: EBML elements (a variable-length ID, a variable-length
// size, the data). The EBML header names the document type; the Segment
// after it holds everything else, and its size is the rest of the file. A
// file written live leaves that size unknown (all ones); then the Segment's
// children are walked, clusters of unknown size by their own children, up to
// the first element that cannot belong to a Segment.

#include <algorithm>
#include <optional>

#include "signature/detectors/detectors.h"

namespace restorix {

namespace {

constexpr std::uint32_t kEbmlHeader = 0x1A45DFA3;
constexpr std::uint32_t kDocType = 0x4282;
constexpr std::uint32_t kSegment = 0x18538067;
constexpr std::uint32_t kCluster = 0x1F43B675;
constexpr std::uint32_t kVoid = 0xEC, kCrc32 = 0xBF;
constexpr std::uint64_t kHeaderLimit = 4096;  // an EBML header is a few dozen bytes

constexpr std::uint32_t kSegmentChildren[] = {
    0x114D9B74,              // SeekHead
    0x1549A966,              // Info
    0x1654AE6B,              // Tracks
    kCluster,   0x1C53BB6B,  // Cues
    0x1941A469,              // Attachments
    0x1043A770,              // Chapters
    0x1254C367,              // Tags
    kVoid,      kCrc32,
};
constexpr std::uint32_t kClusterChildren[] = {
    0xE7,    // Timestamp
    0xA7,    // Position
    0xAB,    // PrevSize
    0xA3,    // SimpleBlock
    0xA0,    // BlockGroup
    0xAF,    // EncryptedBlock
    0x5854,  // SilentTracks
    kVoid,  kCrc32,
};

struct Element {
  std::uint32_t id = 0;
  std::optional<std::uint64_t> size;  // nullopt: unknown
  std::uint64_t data = 0;             // where its data begins
};

// The element header at `pos`: an ID of 1 to 4 bytes (its length marker
// kept) and a size of 1 to 8 bytes (marker dropped).
std::optional<Element> ReadElement(SourceBytes& bytes, std::uint64_t pos) {
  const std::uint8_t idLead = bytes.u8(pos);
  const int idLength = idLead == 0 ? 9 : __builtin_clz(idLead) - 23;
  if (idLength > 4) return std::nullopt;
  Element e;
  for (int i = 0; i < idLength; ++i)
    e.id = e.id << 8 | bytes.u8(pos + static_cast<std::uint64_t>(i));
  pos += static_cast<std::uint64_t>(idLength);
  const std::uint8_t sizeLead = bytes.u8(pos);
  if (sizeLead == 0) return std::nullopt;
  const int sizeLength = __builtin_clz(sizeLead) - 23;
  std::uint64_t size = sizeLead & (0xFFu >> sizeLength);
  bool allOnes = size == (0xFFu >> sizeLength);
  for (int i = 1; i < sizeLength; ++i) {
    const std::uint8_t b = bytes.u8(pos + static_cast<std::uint64_t>(i));
    size = size << 8 | b;
    allOnes = allOnes && b == 0xFF;
  }
  if (!allOnes) e.size = size;
  e.data = pos + static_cast<std::uint64_t>(sizeLength);
  return e;
}

template <std::size_t N>
bool OneOf(std::uint32_t id, const std::uint32_t (&ids)[N]) {
  return std::find(std::begin(ids), std::end(ids), id) != std::end(ids);
}

// Walks elements from `pos` while their IDs are among `ids`; returns where
// the walk stopped. A cluster of unknown size is walked by its children.
template <std::size_t N>
std::uint64_t WalkChildren(DetectorContext& context, SourceBytes& bytes, std::uint64_t pos,
                           std::uint64_t limit, const std::uint32_t (&ids)[N]) {
  while (pos < limit && context.running()) {
    const auto e = ReadElement(bytes, pos);
    if (!e || !OneOf(e->id, ids)) break;
    if (!e->size) {
      if (e->id != kCluster) break;
      pos = WalkChildren(context, bytes, e->data, limit, kClusterChildren);
      continue;
    }
    const auto end = CheckedAdd(e->data, *e->size);
    if (!end || *end > limit) break;
    pos = *end;
  }
  return std::min(pos, limit);
}

}  // namespace

std::uint32_t DetectMatroska(DetectorContext& context, std::uint64_t hit, SignatureRecord& record) {
  SourceBytes bytes(context.volume, hit, 64);
  const std::uint64_t limit = bytes.bytesLeft();
  const auto header = ReadElement(bytes, 0);
  if (!header || header->id != kEbmlHeader || !header->size || *header->size > kHeaderLimit)
    return 0;
  const std::uint64_t headerEnd = header->data + *header->size;

  // The document type, among the header's children.
  std::string_view kind;
  for (std::uint64_t pos = header->data; pos < headerEnd;) {
    const auto e = ReadElement(bytes, pos);
    if (!e || !e->size || e->data + *e->size > headerEnd) return 0;
    if (e->id == kDocType) {
      if (*e->size == 8 && bytes.Matches(e->data, "matroska")) kind = "mkv";
      if (*e->size == 4 && bytes.Matches(e->data, "webm")) kind = "webm";
    }
    pos = e->data + *e->size;
  }
  if (kind.empty()) return 0;

  const auto segment = ReadElement(bytes, headerEnd);
  if (!segment || segment->id != kSegment) return 0;
  const auto first = ReadElement(bytes, segment->data);
  if (!first || !OneOf(first->id, kSegmentChildren)) return 0;
  record.SetExtension(kind);
  // A Segment that would run past the source (a file cut short, or a size
  // that is damaged) is measured by its children too.
  if (segment->size) {
    const auto end = CheckedAdd(segment->data, *segment->size);
    if (end && *end <= limit) return ConfirmAndSkip(record, *end);
  }
  return ConfirmAndSkip(record,
                        WalkChildren(context, bytes, segment->data, limit, kSegmentChildren));
}

}  // namespace restorix
