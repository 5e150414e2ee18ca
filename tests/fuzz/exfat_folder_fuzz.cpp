// exFAT entry sets from hostile bytes: the input is parsed as a folder on
// its own, and is the cluster heap of a small exFAT volume (root folder at
// cluster 2, one FAT of zeros but for the root's end of chain) that is then
// scanned (for deleted files, and as Format Recovery rebuilds lost folders),
// every item read, and every item checked against the source.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "catalogue/stale_check.h"
#include "disk/volume.h"
#include "fs/exfat_data.h"
#include "support/fake_source.h"
#include "support/read_everything.h"

namespace {

constexpr std::size_t kSector = 512;
constexpr std::uint32_t kFatOffset = 24;
constexpr std::uint32_t kHeapOffset = 25;
constexpr std::uint32_t kClusters = 100;

void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Boot region with its checksum sector, the FAT, and room for the heap:
// 512-byte sectors and clusters.
std::vector<std::uint8_t> SmallVolume() {
  std::vector<std::uint8_t> b(std::size_t{kHeapOffset + kClusters} * kSector, 0);
  const std::uint8_t jump[] = {0xEB, 0x76, 0x90, 'E', 'X', 'F', 'A', 'T', ' ', ' ', ' '};
  std::memcpy(b.data(), jump, sizeof jump);
  Put32(b, 0x48, kHeapOffset + kClusters);  // volume length (low half)
  Put32(b, 0x50, kFatOffset);
  Put32(b, 0x54, 1);
  Put32(b, 0x58, kHeapOffset);
  Put32(b, 0x5C, kClusters);
  Put32(b, 0x60, 2);
  b[0x6C] = 9;
  b[0x6E] = 1;
  b[0x1FE] = 0x55;
  b[0x1FF] = 0xAA;
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < 11 * kSector; ++i)
    if (i != 0x6A && i != 0x6B && i != 0x70)
      sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + b[i];
  for (std::size_t o = 11 * kSector; o < 12 * kSector; o += 4)
    Put32(b, o, sum);
  Put32(b, kFatOffset * kSector + 8, 0xFFFFFFFF);  // the root folder: one cluster
  return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace restorix;
  ParseExfatFolder(Bytes(data, size));
  std::vector<std::uint8_t> bytes = SmallVolume();
  std::memcpy(bytes.data() + kHeapOffset * kSector, data,
              std::min<std::size_t>(size, kClusters * kSector));
  const OpenResult opened = Volume::Open(
      SourceKind::LogicalDrive, std::make_shared<test::FakeSource>(std::move(bytes)), u"fuzz");
  if (!opened) __builtin_trap();  // the boot region is valid: the fuzzer must reach the walk
  test::ScanAndReadEverything(*opened.volume, 1u << 20);
  const StopToken stop;
  TaskEvents events;
  ItemTree tree;
  for (const ScanMode mode : {ScanMode::DeletedFiles, ScanMode::Format}) {
    RunScan(*opened.volume, mode, {}, 1024, tree, {stop, events});
    StaleItemCheck check(*opened.volume, std::vector<SignatureRecord>{});
    WalkTree(tree.root(), [&](const ItemNode& node, int) { check.Changed(node); });
  }
  return 0;
}
