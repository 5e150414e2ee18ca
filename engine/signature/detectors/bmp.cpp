#include "signature/detectors/detectors.h"

namespace restorix {

// The BMP file header carries the whole file size; nothing else is checked,
// so a damaged header still carves something the user can look at.
std::uint32_t DetectBmp(DetectorContext& context, std::uint64_t hit, SignatureRecord& record) {
  SourceBytes bytes(context.volume, hit, 2);
  record.detectedSize = bytes.le32(2);
  return 1;
}

}  // namespace restorix
