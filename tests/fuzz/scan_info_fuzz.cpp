// Scan-information files of any bytes. The source they name is never
// opened: the override points nowhere.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "catalogue/scan_info.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const int fd = ::memfd_create("scan", MFD_CLOEXEC);
  static const std::string path = "/proc/self/fd/" + std::to_string(fd);
  ::ftruncate(fd, 0);
  ::pwrite(fd, data, size, 0);
  restorix::LoadScanInfo(path, "/nonexistent/restorix-fuzz-source");
  return 0;
}
