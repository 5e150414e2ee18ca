#include "disk/volume_context.h"

#include <algorithm>

namespace restorix {

VolumeContext VolumeContext::Decode(Bytes block) {
  VolumeContext context;
  std::copy_n(block.begin(), std::min(block.size(), kSize), context.bytes_.begin());
  return context;
}

}  // namespace restorix
