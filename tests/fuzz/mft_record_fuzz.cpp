// One MFT record from the input, placed among the records of an in-memory
// volume and scanned; the data of every item it yields is then read back.
// With bit 2 of the first byte the record (and its copy) lie in the data
// area instead, as a quick format leaves an old MFT, and the old-record pass
// of a format recovery rebuilds them. Most inputs get valid fixups so that the fuzzer spends its
// time on the attributes rather than on the update sequence.
#include <cstddef>
#include <cstdint>

#include "fs/ntfs_old_records.h"
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

  // The volume is made once; each input is laid over it, in the MFT or, as
  // a record a format left behind, in the data area.
  static const test::MemoryNtfsVolume base(8, 16, 3 << 19);
  auto source = std::make_shared<test::OverlaySource>(base.bytes(), base.bytes().size());
  const bool old = (data[0] & 4) != 0;
  const auto place = [&](std::uint32_t number) {
    source->Put(old ? 100 * 8 + (number - 20) * 2 : base.RecordSector(number), record);
  };
  place(20);
  if (data[0] & 2) place(21);  // an extension record it may point to
  if (size > 1025) source->Put(200 * 8, Bytes(data + 1025, size - 1025));

  const OpenResult opened = Volume::Open(SourceKind::LogicalDrive, source, u"fuzz");
  if (!opened) return 0;
  if (!old) {
    test::ScanAndReadEverything(*opened.volume, 16u << 20);
    return 0;
  }
  const StopToken stop;
  TaskEvents events;
  ItemTree tree;
  tree.StartScan(5);
  ItemNode* lost = tree.NewNode();
  tree.AddChild(tree.root(), lost);
  ScanOldMftRecords(*opened.volume, tree, lost, {stop, events});
  tree.FinishScan();
  test::ReadEveryItem(*opened.volume, tree, 16u << 20);
  return 0;
}
