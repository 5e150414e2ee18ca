// RIFF WAVE. The RIFF size gives the length of most WAVEs; one that holds
// MPEG Layer III (format tag 0x55) is measured by its frames instead, as the
// MPEG audio detector does for MP3 files.

#include "signature/detectors/detectors.h"

namespace restorix {

std::uint32_t DetectWave(DetectorContext& context, std::uint64_t hit, SignatureRecord& record) {
  SourceBytes bytes(context.engine, hit, 2);
  if (!bytes.Matches(8, "WAVE")) return 0;
  if (bytes.le16(20) == 0x55) return DetectMpegAudio(context, hit, record);
  const std::uint64_t size = std::uint64_t{bytes.le32(4)} + 8;
  record.detectedSize = RecordSize(size);
  return 1;
}

}  // namespace restorix
