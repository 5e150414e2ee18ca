#include "disk/sector_source.h"

#include <cerrno>
#include <cstring>

namespace restorix {

DeviceLostError::DeviceLostError(Side side, int error) : side_(side), error_(error) {
  message_ = side == Side::Source ? "the source device is no longer available"
                                  : "the output file could not be written";
  if (error != 0) message_ += std::string(" (") + std::strerror(error) + ")";
}

bool IsDeviceLostError(int error) {
  return error == ENODEV || error == ENXIO || error == ENOMEDIUM || error == ENOTCONN;
}

}  // namespace restorix
