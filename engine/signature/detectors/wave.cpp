// RIFF WAVE. The RIFF size gives the length of most WAVEs; one that holds
// MPEG Layer III (format tag 0x55) is confirmed by its frames, as the MPEG
// audio detector does for MP3 files, and then carved to the end of its RIFF.

#include "signature/detectors/detectors.h"

namespace restorix {

namespace {
// How much a RIFF may hold past its last MPEG frame and still be taken whole.
constexpr std::uint64_t kRiffTail = 1 << 20;
}  // namespace

std::uint32_t DetectWave(DetectorContext& context, std::uint64_t hit, SignatureRecord& record) {
  SourceBytes bytes(context.volume, hit, 2);
  if (!bytes.Matches(8, "WAVE")) return 0;
  if (bytes.le16(20) == 0x55) {
    if (DetectMpegAudio(context, hit, record) == 0) return 0;
    // The frames end inside the RIFF; what follows them (a pad byte, a
    // closing chunk) is part of the file too.
    const std::uint64_t riff = std::uint64_t{bytes.le32(4)} + 8;
    if (riff > record.detectedSize && riff - record.detectedSize <= kRiffTail)
      return ConfirmAndSkip(record, riff);
    return 1;
  }
  const std::uint64_t size = std::uint64_t{bytes.le32(4)} + 8;
  record.detectedSize = RecordSize(size);
  return 1;
}

}  // namespace restorix
