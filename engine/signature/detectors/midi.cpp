// Standard MIDI file: a chain of MThd and MTrk chunks, each a tag and a
// big-endian length. The chain ends at the first other tag.

#include "signature/detectors/detectors.h"

namespace restorix {

std::uint32_t DetectMidi(DetectorContext& context, std::uint64_t hit, SignatureRecord& record) {
  SourceBytes bytes(context.volume, hit, 2);
  // Each chunk moves the walk on by at least its 8-byte head, and past the
  // end of the source the tags read as zeros, so the walk ends there.
  std::uint64_t total = 0;
  while (context.running()) {
    if (!bytes.Matches(total, "MThd") && !bytes.Matches(total, "MTrk")) break;
    total += 8 + std::uint64_t{bytes.be32(total + 4)};
  }
  // The carved length keeps two bytes of slack past the last chunk.
  return ConfirmAndSkip(record, total + 2);
}

}  // namespace restorix
