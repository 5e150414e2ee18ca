#include "signature/detectors/detectors.h"

namespace restorix {

// Size = header length (BE32 at 4) + an 8-byte lead-in + the packed pixel
// data that the dimensions (BE16 at 24 and 26) and the bits per pixel
// (byte 32) give, rounded up to whole bytes.
std::uint32_t DetectRasterHeader(DetectorContext& context, std::uint64_t hit,
                                 SignatureRecord& record) {
  SourceBytes bytes(context.volume, hit, 2);
  const std::uint64_t header = bytes.be32(4);
  const std::uint64_t pixelBits =
      std::uint64_t{bytes.be16(24)} * bytes.be16(26) * bytes.u8(32);  // < 2^40, no overflow
  const std::uint64_t size = (pixelBits + 7) / 8 + 8 + header;
  record.detectedSize = RecordSize(size);
  return 1;
}

}  // namespace restorix
