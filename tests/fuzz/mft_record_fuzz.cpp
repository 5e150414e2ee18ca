// One MFT record from the input, placed among the records of an in-memory
// volume and scanned; the data of every item it yields is then read back.
// Most inputs get valid fixups so that the fuzzer spends its time on the
// attributes rather than on the update sequence.
#include <cstddef>
#include <cstdint>

#include "overlay_source.h"
#include "support/ntfs_volume.h"
#include "support/read_everything.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace restorix;
  if (size < 2) return 0;
  std::vector<std::uint8_t> record(data + 1, data + std::min<std::size_t>(size, 1025));
  record.resize(1024, 0);
  if (data[0] & 1)
    test::Protect(record, restorix::le16(record, 0x04) == 0x2A ? 0x2A : 0x30, 0x0101);

  // The volume is made once; each input is laid over it.
  static const test::MemoryNtfsVolume base(8, 16, 3 << 19);
  auto source = std::make_shared<test::OverlaySource>(base.bytes(), base.bytes().size());
  source->Put(base.RecordSector(20), record);
  if (data[0] & 2) source->Put(base.RecordSector(21), record);  // an extension record
  if (size > 1025) source->Put(200 * 8, Bytes(data + 1025, size - 1025));

  const OpenResult opened = Volume::Open(SourceKind::LogicalDrive, source, u"fuzz");
  if (!opened) return 0;
  test::ScanAndReadEverything(*opened.volume, 16u << 20);
  return 0;
}
