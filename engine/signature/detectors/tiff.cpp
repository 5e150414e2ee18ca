// SCAFFOLD: replaced by the real detector.
#include "signature/detectors/detectors.h"

namespace restorix {

std::uint32_t DetectTiffFamily(DetectorContext&, std::uint64_t, SignatureRecord&, TiffVariant) { return 0; }

}  // namespace restorix
