// The detectors of today's formats on any bytes: the first input byte picks
// the detector (its top bit: 4096-byte sectors), the rest is the source from
// the hit sector on. Walks over hostile lengths, offsets and counts must end
// without reading out of bounds or running away.
#include <array>
#include <cstddef>
#include <cstdint>

#include "signature/detectors/detectors.h"
#include "support/fake_source.h"

namespace {

constexpr std::array kTypes = {
    restorix::TYPE_ZIP,       restorix::TYPE_PDF,       restorix::TYPE_OGG, restorix::TYPE_FLAC,
    restorix::TYPE_MATROSKA,  restorix::TYPE_ISO_MEDIA, restorix::TYPE_ASF, restorix::TYPE_RIFF,
    restorix::TYPE_SEVEN_ZIP, restorix::TYPE_SQLITE,    restorix::TYPE_PSD, restorix::TYPE_RAR,
    restorix::TYPE_GZIP,
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace restorix;
  if (size < 2) return 0;
  const DetectorEntry* entry = FindDetector(kTypes[(data[0] & 0x7F) % kTypes.size()]);
  if (entry == nullptr) __builtin_trap();  // every one of them is registered
  const std::uint32_t sectorBytes = (data[0] & 0x80) != 0 ? 4096 : 512;
  std::vector<std::uint8_t> disk(data + 1, data + size);
  disk.resize((disk.size() + sectorBytes - 1) / sectorBytes * sectorBytes + sectorBytes, 0);
  const auto volume =
      Volume::Open(SourceKind::PhysicalDisk,
                   std::make_shared<test::FakeSource>(std::move(disk), sectorBytes), u"fuzz")
          .volume;
  if (!volume) return 0;
  const StopToken stop;
  ClaimedSectors claims;
  DetectorContext context{*volume, claims, stop};
  SignatureRecord record;
  entry->detect(context, 0, record);
  return 0;
}
