// One MFT record from the input, placed among the records of an in-memory
// volume and scanned; the data of every item it yields is then read back.
// Most inputs get valid fixups so that the fuzzer spends its time on the
// attributes rather than on the update sequence.
#include <cstddef>
#include <cstdint>

#include "support/ntfs_volume.h"
#include "support/read_everything.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace restorix;
  if (size < 2) return 0;
  std::vector<std::uint8_t> record(data + 1, data + std::min<std::size_t>(size, 1025));
  record.resize(1024, 0);
  if (data[0] & 1)
    test::Protect(record, restorix::le16(record, 0x04) == 0x2A ? 0x2A : 0x30, 0x0101);

  static const test::MemoryNtfsVolume* base = [] {
    auto* v = new test::MemoryNtfsVolume(8, 16, 3 << 19);
    return v;
  }();
  test::MemoryNtfsVolume volume = *base;
  volume.Record(20, record);
  if (data[0] & 2) volume.Record(21, record);  // an extension record it may point to
  if (size > 1025) {
    volume.Place(200 * 4096, std::vector<std::uint8_t>(data + 1025, data + size));
  }

  const OpenResult opened = volume.Open();
  if (!opened) return 0;
  test::ScanAndReadEverything(*opened.volume, 16u << 20);
  return 0;
}
