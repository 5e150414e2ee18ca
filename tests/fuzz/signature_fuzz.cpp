// The signature walk over any bytes, every known type selected; and each
// detector alone at sector 0 (the first input byte picks which).
#include <cstddef>
#include <cstdint>

#include "fs/scan.h"
#include "signature/detectors/detectors.h"
#include "signature_table.h"
#include "support/fake_source.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace restorix;
  if (size < 2) return 0;
  const std::uint8_t choice = data[0];
  std::vector<std::uint8_t> disk(data + 1, data + size);
  disk.resize((disk.size() + 511) / 512 * 512 + 1024, 0);

  const auto volume = Volume::Open(SourceKind::PhysicalDisk,
                                   std::make_shared<test::FakeSource>(std::move(disk)), u"fuzz")
                          .volume;
  const StopToken stop;
  if (choice < 128) {
    TaskEvents events;
    ItemTree tree;
    RunScan(*volume, ScanMode::Advanced, test::FuzzSignatureTable(), 1024, tree, {stop, events});
    return 0;
  }
  // Every registered detector, whatever the table holds.
  const auto detectors = Detectors();
  ClaimedSectors claims;
  DetectorContext context{*volume, claims, stop};
  SignatureRecord record;
  detectors[choice % detectors.size()].detect(context, 0, record);
  return 0;
}
