// MPEG program stream: a run of packs, each starting with 00 00 01 BA, ended
// by the program end code 00 00 01 B9. The first pack's length (the distance
// to the second pack start) bounds how far the next pack start is looked
// for; packs need not all be as long as the first (MPEG-1 system streams'
// are not).
#include <algorithm>

#include "signature/detectors/detectors.h"

namespace restorix {

namespace {
constexpr std::uint32_t kPackStart = 0x000001BA;
constexpr std::uint32_t kProgramEnd = 0x000001B9;
// How far the second pack start is looked for: one search-driver run.
constexpr std::uint64_t kSearchSectors = 63;
// Packs longer than this are not looked for past the first pack's length.
constexpr std::uint64_t kMinimumReach = 64 * 1024;

// The first pack start, or also program end code where `orEnd`, in
// [from, to); `to` when there is none.
std::uint64_t NextCode(SourceBytes& bytes, std::uint64_t from, std::uint64_t to,
                       DetectorContext& context, bool orEnd) {
  for (std::uint64_t pos = from; pos + 4 <= to && context.running();) {
    const Bytes run = bytes.Run(pos, 4);
    const std::size_t usable = std::min<std::uint64_t>(run.size(), to - pos);
    for (std::size_t i = 0; i + 4 <= usable; ++i) {
      if (run[i] != 0 || run[i + 1] != 0 || run[i + 2] != 1) continue;
      if (run[i + 3] == 0xBA || (orEnd && run[i + 3] == 0xB9)) return pos + i;
    }
    pos += usable >= 4 ? usable - 3 : 1;  // codes that straddle the end of a run are seen next time
  }
  return to;
}

}  // namespace

std::uint32_t DetectMpegProgramStream(DetectorContext& context, std::uint64_t hit,
                                      SignatureRecord& record) {
  if (context.claims.programStream.contains(hit)) return 0;
  SourceBytes bytes(context.volume, hit);
  const std::uint64_t sector = bytes.sectorBytes();
  if (sector == 0 || bytes.be32(0) != kPackStart) return 0;

  const std::uint64_t searchEnd = kSearchSectors * sector;
  const std::uint64_t packLength = NextCode(bytes, 4, searchEnd, context, false);
  if (packLength == searchEnd) return 0;

  const std::uint64_t reach = std::max(4 * packLength, kMinimumReach);
  const std::uint64_t sourceEnd = bytes.sectorsLeft() * sector;
  std::uint64_t pos = packLength;  // at least 4: every pack moves the walk on
  while (context.running() && pos < sourceEnd && bytes.be32(pos) == kPackStart) {
    if (pos % sector == 0) context.claims.programStream.insert(hit + pos / sector);
    const std::uint64_t limit = std::min(pos + reach, sourceEnd);
    const std::uint64_t next = NextCode(bytes, pos + 4, limit, context, true);
    if (next == limit) {
      pos += packLength;  // no code follows: the last pack is taken to be as long as the first
      break;
    }
    pos = next;
    if (bytes.be32(pos) == kProgramEnd) break;
  }
  if (bytes.be32(pos) == kProgramEnd) pos += 4;

  record.detectedSize = RecordSize(pos);
  return 1;
}

}  // namespace restorix
