#include "signature/detectors/detectors.h"

namespace restorix {

namespace {

bool IsLetter(std::uint8_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The IHDR values a conforming encoder can write; anything else means the
// signature matched by chance.
bool HeaderIsPlausible(SourceBytes& bytes) {
  if (bytes.be32(8) != 13 || !bytes.Matches(12, "IHDR")) return false;
  const std::uint32_t width = bytes.be32(16);
  const std::uint32_t height = bytes.be32(20);
  if (width == 0 || width > 0x7FFFFFFF || height == 0 || height > 0x7FFFFFFF) return false;
  const std::uint8_t depth = bytes.u8(24);
  if (depth == 0 || depth > 16 || (depth != 1 && depth % 2 != 0)) return false;
  const std::uint8_t colour = bytes.u8(25);
  if (colour != 0 && colour != 2 && colour != 3 && colour != 4 && colour != 6) return false;
  return bytes.u8(26) == 0 && bytes.u8(27) == 0 && bytes.u8(28) <= 1;
}

}  // namespace

// Walks the chunk chain after IHDR to IEND. A chunk that does not look like
// one ends the file there but does not refuse it: what comes before the
// damage is still worth recovering.
std::uint32_t DetectPng(DetectorContext& context, std::uint64_t hit, SignatureRecord& record) {
  SourceBytes bytes(context.volume, hit, 2);
  if (!HeaderIsPlausible(bytes)) return 0;

  // Every counted chunk moves pos on by at least 12 bytes, and past the end
  // of the source the bytes read as zeros, which is not a chunk type.
  std::uint64_t pos = 33;
  bool sawEnd = false;
  while (!sawEnd && context.running()) {
    const std::uint32_t length = bytes.be32(pos);
    bool valid = length <= 0x7FFFFFFF;
    for (std::uint64_t i = 0; i < 4 && valid; ++i)
      valid = IsLetter(bytes.u8(pos + 4 + i));
    if (!valid) break;
    sawEnd = bytes.Matches(pos + 4, "IEND");
    pos += std::uint64_t{length} + 12;
  }

  return ConfirmAndSkip(record, pos);
}

}  // namespace restorix
