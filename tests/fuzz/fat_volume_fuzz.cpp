// A small FAT16 or FAT32 volume (the first input byte picks) whose FATs,
// root folder and first clusters are the rest of the input: the folder walk,
// the cluster chains and the data reader run over them.
#include <cstddef>
#include <cstdint>

#include "disk/volume.h"
#include "support/boot_sectors.h"
#include "support/fake_source.h"
#include "support/read_everything.h"

namespace {

// One sector per FAT right after the boot sector; FAT16 keeps its 512-entry
// root folder, FAT32 has its root folder at cluster 2.
restorix::test::Sector Boot(bool fat32) {
  using namespace restorix::test;
  Sector s = fat32 ? Fat32Boot() : Fat16Boot();
  Put16(s, 0x0E, 1);
  if (fat32) {
    Put32(s, 0x24, 1);
  } else {
    Put16(s, 0x16, 1);
  }
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace restorix;
  if (size < 1) return 0;
  std::vector<std::uint8_t> bytes = Boot(data[0] & 1);
  bytes.insert(bytes.end(), data + 1, data + size);
  const OpenResult opened = Volume::Open(
      SourceKind::LogicalDrive, std::make_shared<test::FakeSource>(std::move(bytes)), u"fuzz");
  if (!opened) __builtin_trap();  // the boot sector is valid: the fuzzer must reach the walk
  test::ScanAndReadEverything(*opened.volume, 1u << 20);
  return 0;
}
