// The whole input is a disk: every sector that ends in 55 AA is tried as a
// boot sector and its backup, and the checks read wherever the forged
// fields point.
#include <cstddef>
#include <cstdint>

#include "disk/volume.h"
#include "disk/volume_search.h"
#include "support/fake_source.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const restorix::OpenResult disk = restorix::Volume::Open(
      restorix::SourceKind::PhysicalDisk,
      std::make_shared<restorix::test::FakeSource>(std::vector<std::uint8_t>(data, data + size)),
      u"fuzz");
  if (!disk) return 0;
  restorix::StopToken stop;
  restorix::TaskEvents events;
  restorix::SearchVolumes(*disk.volume, {stop, events});
  return 0;
}
