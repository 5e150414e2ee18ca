// ISO base media files (MPEG-4, QuickTime, 3GPP, HEIF, AVIF): a chain of
// top-level boxes, each a 32-bit size (1: a 64-bit size follows the type; 0:
// to the end of the file, which a carver cannot know) and a four-character
// type. The chain begins with "ftyp"; it is followed while the types look
// like box types and the boxes fit the source, and ends before a second
// "ftyp" (the next file). A file is confirmed once the chain holds the box
// that describes its media: "moov", "moof" or HEIF's "meta".

#include "signature/detectors/detectors.h"

namespace restorix {

namespace {

bool IsTypeChar(std::uint8_t c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ';
}

// A HEIF file of the generic brand "mif1" is AVIF when its compatible brands
// say so.
bool CompatibleWith(SourceBytes& bytes, std::uint64_t ftypSize, std::string_view brand) {
  for (std::uint64_t pos = 16; pos + 4 <= ftypSize; pos += 4) {
    if (bytes.Matches(pos, brand)) return true;
  }
  return false;
}

}  // namespace

std::uint32_t DetectIsoMedia(DetectorContext& context, std::uint64_t hit, SignatureRecord& record) {
  SourceBytes bytes(context.volume, hit, 16);
  const std::uint64_t limit = bytes.bytesLeft();
  const std::uint64_t ftypSize = bytes.be32(0);
  if (!bytes.Matches(4, "ftyp") || ftypSize < 16 || ftypSize > 4096 || ftypSize % 4 != 0) return 0;

  bool media = false;
  std::uint64_t pos = ftypSize;
  while (pos < limit && context.running()) {
    std::uint64_t size = bytes.be32(pos);
    std::uint64_t header = 8;
    if (size == 1) {
      size = bytes.be64(pos + 8);
      header = 16;
    }
    bool typed = true;
    for (std::uint64_t i = 4; i < 8; ++i)
      typed = typed && IsTypeChar(bytes.u8(pos + i));
    const auto end = CheckedAdd(pos, size);
    if (!typed || size < header || bytes.Matches(pos + 4, "ftyp") || !end || *end > limit) break;
    media = media || bytes.Matches(pos + 4, "moov") || bytes.Matches(pos + 4, "moof") ||
            bytes.Matches(pos + 4, "meta");
    pos = *end;
  }
  if (!media) return 0;
  if (bytes.Matches(8, "mif1") && CompatibleWith(bytes, ftypSize, "avif"))
    record.SetExtension("avif");
  return ConfirmAndSkip(record, pos);
}

}  // namespace restorix
