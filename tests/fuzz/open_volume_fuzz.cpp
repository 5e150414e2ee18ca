// The whole input is a volume: recognition, MFT location and every walk
// behind them run over it.
#include <cstddef>
#include <cstdint>

#include "disk/volume.h"
#include "support/fake_source.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  restorix::Volume::Open(
      restorix::SourceKind::LogicalDrive,
      std::make_shared<restorix::test::FakeSource>(std::vector<std::uint8_t>(data, data + size)),
      u"fuzz");
  return 0;
}
