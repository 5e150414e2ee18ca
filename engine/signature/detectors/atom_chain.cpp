#include "signature/detectors/detectors.h"

namespace restorix {

namespace {

bool IsLowercaseType(SourceBytes& bytes, std::uint64_t pos) {
  for (std::uint64_t i = 0; i < 4; ++i) {
    const std::uint8_t c = bytes.u8(pos + i);
    if (c < 'a' || c > 'z') return false;
  }
  return true;
}

}  // namespace

// Follows top-level atoms (size BE32, then a four-letter type) for as long as
// they look like atoms. The file ends where the chain stops; an atom that
// would run past the end of the source is left out rather than trusted.
// Only lowercase types are followed: the top-level atoms of these files all
// are, and random data seldom is four lowercase letters in a row.
std::uint32_t DetectAtomChain(DetectorContext& context, std::uint64_t hit,
                              SignatureRecord& record) {
  SourceBytes bytes(context.volume, hit, 2);
  const std::uint64_t sectorBytes = bytes.sectorBytes();
  const std::uint64_t total = context.volume.context().totalSectors();

  // Each step moves pos on by a nonzero size, and the size check stops the
  // walk before it gets more than a sector or two past the end of the source.
  std::uint64_t pos = 0;
  while (sectorBytes != 0 && context.running()) {
    const std::uint32_t size = bytes.be32(pos);
    if (!IsLowercaseType(bytes, pos + 4) || size == 0) break;
    if (hit + pos / sectorBytes + size / sectorBytes > total) break;
    pos += size;
  }

  record.detectedSize = RecordSize(pos);
  return 1;
}

}  // namespace restorix
