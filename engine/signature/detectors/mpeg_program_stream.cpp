// MPEG program stream made of equal-sized packs (DVD and VCD streams are): the
// distance from the first pack start to the second is taken as every pack's
// length, and the walk follows pack starts at that stride until one is
// missing or a pack ends in the program end code.
#include <algorithm>

#include "signature/detectors/detectors.h"

namespace restorix {

namespace {
constexpr std::uint32_t kPackStart = 0x000001BA;
constexpr std::uint32_t kProgramEnd = 0x000001B9;
// How far the second pack start is looked for: one search-driver run.
constexpr std::uint64_t kSearchSectors = 63;
}  // namespace

std::uint32_t DetectMpegProgramStream(DetectorContext& context, std::uint64_t hit,
                                      SignatureRecord& record) {
  if (context.claims.programStream.contains(hit)) return 0;
  SourceBytes bytes(context.engine, hit);
  const std::uint64_t sector = bytes.sectorBytes();
  if (sector == 0 || bytes.be32(0) != kPackStart) return 0;

  const std::uint64_t searchEnd = kSearchSectors * sector;
  std::uint64_t packLength = 0;
  for (std::uint64_t pos = 4; pos + 4 <= searchEnd && context.running(); ++pos) {
    if (bytes.be32(pos) == kPackStart) {
      packLength = pos;
      break;
    }
  }
  if (packLength == 0) return 0;

  // packLength is at least 4, so every pack moves the walk on.
  std::uint64_t pos = packLength;
  std::uint32_t lastOfPrevious = 0;
  while (lastOfPrevious != kProgramEnd && context.running()) {
    if (bytes.be32(pos) != kPackStart) break;
    if (pos % sector == 0) context.claims.programStream.insert(hit + pos / sector);
    lastOfPrevious = bytes.be32(pos + packLength - 4);
    pos += packLength;
  }
  if (bytes.be32(pos) == kProgramEnd) pos += 4;

  record.detectedSize = RecordSize(pos);
  return 1;
}

}  // namespace restorix
