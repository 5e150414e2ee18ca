// A valid NTFS boot sector whose MFT starts at sector 2; the input is what
// lies there: MFT record 0, its extension records and attribute lists.
#include <cstddef>
#include <cstdint>

#include "disk/volume.h"
#include "support/boot_sectors.h"
#include "support/fake_source.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace restorix;
  test::NtfsGeometry geometry;
  geometry.sectorsPerCluster = 1;
  geometry.totalSectors = 8192;
  geometry.mftCluster = 2;
  geometry.mftMirrorCluster = 1;
  std::vector<std::uint8_t> volume = test::NtfsBoot(geometry);
  volume.resize(1024, 0);
  volume.insert(volume.end(), data, data + size);
  Volume::Open(SourceKind::LogicalDrive, std::make_shared<test::FakeSource>(std::move(volume)),
               u"fuzz");
  return 0;
}
