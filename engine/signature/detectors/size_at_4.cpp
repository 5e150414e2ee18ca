#include "signature/detectors/detectors.h"

namespace restorix {

// The length stored at byte 4 is taken with 2048 bytes of slack: a carved
// copy a little too long still opens, one cut short often does not.
std::uint32_t DetectSizeAt4(DetectorContext& context, std::uint64_t hit, SignatureRecord& record) {
  SourceBytes bytes(context.volume, hit, 2);
  const std::uint64_t size = std::uint64_t{bytes.le32(4)} + 2048;
  record.detectedSize = RecordSize(size);
  return 1;
}

}  // namespace restorix
