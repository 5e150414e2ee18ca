// The rebuild of lost FAT folders from hostile bytes: the input is the FAT
// and the data area of a small FAT32 volume (one sector a cluster, 125
// clusters), scanned as Format Recovery scans it, every item then read and
// checked against the source.
#include <cstddef>
#include <cstdint>

#include "catalogue/stale_check.h"
#include "disk/volume.h"
#include "fs/item_reader.h"
#include "fs/scan.h"
#include "support/boot_sectors.h"
#include "support/fake_source.h"

namespace {

constexpr std::size_t kSector = 512;
constexpr std::uint32_t kClusters = 125;

// One reserved sector, two FATs of one sector each (128 entries), the root
// folder at cluster 2.
std::vector<std::uint8_t> SmallVolume() {
  using namespace restorix::test;
  Sector s = Fat32Boot();
  s[0x0D] = 1;
  Put16(s, 0x0E, 1);
  Put32(s, 0x20, 3 + kClusters);
  Put32(s, 0x24, 1);
  s.resize((3 + kClusters) * kSector, 0);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace restorix;
  std::vector<std::uint8_t> bytes = SmallVolume();
  const std::size_t fat = std::min(size, kSector);
  std::copy_n(data, fat, bytes.begin() + kSector);
  std::copy_n(data, fat, bytes.begin() + 2 * kSector);
  std::copy_n(data + fat, std::min(size - fat, std::size_t{kClusters} * kSector),
              bytes.begin() + 3 * kSector);
  const OpenResult opened = Volume::Open(
      SourceKind::LogicalDrive, std::make_shared<test::FakeSource>(std::move(bytes)), u"fuzz");
  if (!opened) __builtin_trap();  // the boot sector is valid: the fuzzer must reach the rebuild
  const StopToken stop;
  TaskEvents events;
  ItemTree tree;
  RunScan(*opened.volume, ScanMode::Format, {}, 1024, tree, {stop, events});
  StaleItemCheck check(*opened.volume, std::vector<SignatureRecord>{});
  std::vector<std::uint8_t> buffer(1 << 16);
  WalkTree(tree.root(), [&](const ItemNode& node, int) {
    if (node.isFolder()) return;
    check.Changed(node);
    ItemReader(*opened.volume, node).read(0, buffer);
  });
  return 0;
}
