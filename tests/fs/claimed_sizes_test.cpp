// Sizes that a disk claims are never trusted: a volume is never larger than
// its source, an item never reads past its volume, an NTFS stream never
// past its runs, a carved file never past the source's end or over the next
// file found. Where a size was cut the item keeps the claim.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "catalogue/scan_info.h"
#include "fs/item_reader.h"
#include "signature/signature_file.h"
#include "support/boot_sectors.h"
#include "support/fake_source.h"
#include "support/ntfs_volume.h"
#include "support/test_support.h"
#include "util/text.h"

namespace restorix {
namespace {

using test::EncodeRunList;
using test::FileRecord;
using test::MemoryNtfsVolume;
using test::MftRecordBuilder;
using Bytes8 = std::vector<std::uint8_t>;

constexpr std::uint64_t k2e48 = std::uint64_t{1} << 48;

const ItemNode* Named(const ItemTree& tree, const std::u16string& name) {
  const ItemNode* found = nullptr;
  WalkTree(tree.root(), [&](const ItemNode& n, int) {
    if (!found && n.name == name) found = &n;
  });
  return found;
}

Bytes8 Filled(std::size_t n) {
  Bytes8 b(n);
  for (std::size_t i = 0; i < n; ++i)
    b[i] = static_cast<std::uint8_t>(i * 7 + i / 4096 + 1);
  return b;
}

// 8 MiB, 4 KiB clusters: the volume's last sector is the 7th of cluster 2047.
TEST(ClaimedSizesTest, NtfsStreamsEndAtTheirRunsAndTheVolume) {
  MemoryNtfsVolume v;
  const Bytes8 content = Filled(8 * 4096);
  v.Cluster(300, content);
  v.Cluster(2046, Bytes8(content.begin(), content.begin() + 4096));
  std::uint32_t number = 20;
  const auto file = [&](const char16_t* name, std::uint64_t lastVcn, const Bytes8& runs,
                        std::uint64_t size) {
    auto record = FileRecord(0, 5, name);
    record.NonResident(0x80, 0, lastVcn, runs, size, 3);
    v.Record(number++, record.Build());
  };
  file(u"claims 2^48", 1, EncodeRunList({{2, 300}}), k2e48);
  file(u"VCNs to 2^36", std::uint64_t{1} << 36, EncodeRunList({{2, 300}}), k2e48);
  file(u"run off the volume", 3, EncodeRunList({{2, 300}, {2, 5000 - 300}}), 4 * 4096);
  file(u"run over the end", 3, EncodeRunList({{4, 2046}}), 4 * 4096);
  file(u"sparse", 3, EncodeRunList({{1, 300}, {3, 0}}), 4 * 4096);
  // Two pieces listed in an attribute list, the second 2^40 clusters on.
  MftRecordBuilder base(1024, 0);
  base.Resident(0x20,
                test::Cat({test::AttributeListEntryBytes(0x80, 0, 41, 1),
                           test::AttributeListEntryBytes(0x80, std::uint64_t{1} << 40, 42, 1)}),
                1);
  base.Resident(0x30, test::FileNameValue(5, u"gap"), 2);
  v.Record(40, base.Build());
  auto first = MftRecordBuilder(1024, 0).BaseReference(40);
  first.NonResident(0x80, 0, 0, EncodeRunList({{1, 300}}), k2e48, 1);
  v.Record(41, first.Build());
  auto second = MftRecordBuilder(1024, 0).BaseReference(40);
  second.NonResident(0x80, std::uint64_t{1} << 40, std::uint64_t{1} << 40,
                     EncodeRunList({{1, 301}}), 0, 1);
  v.Record(42, second.Build());

  const struct {
    const char16_t* name;
    std::uint64_t size;     // what the item gives
    std::uint64_t claimed;  // 0: not cut
    std::size_t same;       // leading bytes that are the content's
  } cases[] = {
      {u"claims 2^48", 8192, k2e48, 8192},
      {u"VCNs to 2^36", 8192, k2e48, 8192},
      {u"run off the volume", 8192, 4 * 4096, 8192},
      {u"run over the end", 4096 + 7 * 512, 4 * 4096, 4096},
      // Sparse runs are runs: the stream reads them as zeros.
      {u"sparse", 4 * 4096, 0, 4096},
      // Clusters that no run maps, more than the volume has: a forged stream.
      {u"gap", 4096, k2e48, 4096},
  };
  const auto volume = v.Open().volume;
  ASSERT_TRUE(volume);
  const test::ScanRun scan = test::ScanVolume(*volume);
  ASSERT_TRUE(scan.completed);
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf8FromUtf16(c.name));
    const ItemNode* item = Named(scan.tree, c.name);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->size, c.size);
    EXPECT_EQ(item->claimedSize, c.claimed);
    ItemReader reader(*volume, *item);
    ASSERT_EQ(reader.length(), c.size);
    Bytes8 bytes(c.size);
    EXPECT_EQ(reader.read(0, bytes), c.size);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(c.same),
                           content.begin()));
    EXPECT_TRUE(std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(c.same), bytes.end(),
                            [](std::uint8_t b) { return b == 0; }));
  }
}

std::vector<SignatureRecord> TypesOf(std::initializer_list<std::string_view> extensions) {
  std::ifstream tsv(test::SourceFixture("../../data/signatures.tsv"));
  std::vector<SignatureRecord> chosen;
  for (const SignatureRecord& r : ParseSignatureTable(tsv))
    if (std::find(extensions.begin(), extensions.end(), r.ext()) != extensions.end())
      chosen.push_back(r);
  return chosen;
}

// A boot sector may claim any size; the volume holds what its source holds.
TEST(ClaimedSizesTest, AVolumeIsNeverLargerThanItsSource) {
  Bytes8 ntfs = MemoryNtfsVolume().Source()->bytes();
  StoreLE<std::uint64_t>(ntfs, 0x28, std::uint64_t{1} << 63);
  Bytes8 fat32 = test::Fat32Boot();
  StoreLE<std::uint32_t>(fat32, 0x20, 4100000000u);
  fat32.resize(40 << 20);
  const std::tuple<const char*, Bytes8, std::uint64_t, std::uint64_t> cases[] = {
      {"NTFS claiming 2^63 sectors", ntfs, (8 << 20) / 512, std::uint64_t{1} << 63},
      {"FAT32 claiming 4.1e9 sectors in 40 MiB", fat32, (40 << 20) / 512, 4100000000u},
  };
  for (const auto& [what, bytes, sectors, claimed] : cases) {
    SCOPED_TRACE(what);
    const auto volume =
        Volume::Open(SourceKind::LogicalDrive, std::make_shared<test::FakeSource>(bytes), u"v")
            .volume;
    ASSERT_TRUE(volume);
    ASSERT_EQ(volume->context().totalSectors(), sectors);
    EXPECT_EQ(volume->claimedSectors(), claimed);
    // Format recovery searches the volume to its real end, and stops there.
    const test::ScanRun scan = test::ScanVolume(*volume, ScanMode::Format, TypesOf({"jpg"}));
    EXPECT_TRUE(scan.completed);
  }
}

// ZIP has no detector: its length is the table's 8 MiB guess. A guess never
// runs over the next file found, and no carved file past the source's end.
TEST(ClaimedSizesTest, CarvedFilesEndAtTheNextFileAndTheSourcesEnd) {
  const Bytes8 bz2 = {'B', 'Z', 'h', '9', '1',
                      'A', 'Y', '&', 'S', 'Y'};  // no detector: a guessed length
  Bytes8 png = test::Cat({{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D',
                           'R',  0,   0,   0,   1,    0,    0,    0,    1, 8, 0, 0,  0,   0},
                          {0, 0, 0, 0},
                          {0x7F, 0xFF, 0xFF, 0xFF, 'I', 'D', 'A', 'T'}});  // a chunk of 2 GiB - 1
  Bytes8 disk(64 * 512, 0);
  const auto place = [&](std::uint64_t sector, const Bytes8& bytes) {
    std::copy(bytes.begin(), bytes.end(), disk.begin() + static_cast<std::ptrdiff_t>(sector * 512));
  };
  place(10, bz2);
  place(20, bz2);
  place(30, png);
  const auto volume =
      Volume::Open(SourceKind::PhysicalDisk, std::make_shared<test::FakeSource>(disk), u"disk")
          .volume;
  ASSERT_TRUE(volume);
  const test::ScanRun scan = test::ScanVolume(*volume, ScanMode::Advanced, TypesOf({"bz2", "png"}));
  ASSERT_TRUE(scan.completed);
  const std::tuple<const char16_t*, std::uint64_t, std::uint64_t> expected[] = {
      {u"10.bz2", 10 * 512, 2 << 20},
      {u"20.bz2", 10 * 512, 2 << 20},
      {u"30.png", 34 * 512, 33u + 0x7FFFFFFF + 12},
  };
  for (const auto& [name, size, claimed] : expected) {
    const ItemNode* item = Named(scan.tree, name);
    ASSERT_NE(item, nullptr) << Utf8FromUtf16(name);
    EXPECT_EQ(item->size, size) << Utf8FromUtf16(name);
    EXPECT_EQ(item->claimedSize, claimed) << Utf8FromUtf16(name);
  }
  // A carved length is the search's own: a saved scan keeps it as cut.
  test::TempDir dir;
  ASSERT_TRUE(SaveScanInfo(dir / "scan.qns", u"disk", volume->context(), scan.tree));
  const LoadResult stored = ReadScanInfo(dir / "scan.qns");
  for (const auto& [name, size, claimed] : expected)
    EXPECT_EQ(Named(stored.tree, name)->size, size) << Utf8FromUtf16(name);
}

// A deleted FAT file is read from its first cluster on; not past the volume.
TEST(ClaimedSizesTest, AFatFileEndsAtTheVolumesEnd) {
  // FAT16 in 2 MiB: FAT at sector 4, the root at 404, cluster 2 at 436, 4
  // sectors a cluster; cluster 900 starts at sector 4028 of 4096.
  Bytes8 bytes = test::Fat16Boot();
  StoreLE<std::uint32_t>(bytes, 0x20, 0);
  StoreLE<std::uint16_t>(bytes, 0x13, 40000);
  bytes.resize(2 << 20, 0);
  Bytes8 entry = {0xE5, 'I', 'G', ' ', ' ', ' ', ' ', ' ', 'B', 'I', 'N', 0x20};
  entry.resize(32, 0);
  StoreLE<std::uint16_t>(entry, 26, 900);
  StoreLE<std::uint32_t>(entry, 28, 1 << 20);
  std::copy(entry.begin(), entry.end(), bytes.begin() + 404 * 512);
  const auto volume =
      Volume::Open(SourceKind::LogicalDrive, std::make_shared<test::FakeSource>(bytes), u"fat")
          .volume;
  ASSERT_TRUE(volume);
  const test::ScanRun scan = test::ScanVolume(*volume);
  const ItemNode* item = Named(scan.tree, u"XIG.BIN");
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->size, (4096u - 4028) * 512);
  EXPECT_EQ(item->claimedSize, 1u << 20);
  EXPECT_EQ(test::ReadItem(*volume, *item).size(), item->size);
}

// A scan-information file keeps the claim; loading cuts it again, so a
// forged size in the file is cut as well.
TEST(ClaimedSizesTest, ASavedScanKeepsTheClaimAndLoadingCutsIt) {
  MemoryNtfsVolume v;
  v.Cluster(300, Filled(2 * 4096));
  auto record = FileRecord(0, 5, u"claims 2^48");
  record.NonResident(0x80, 0, 1, EncodeRunList({{2, 300}}), k2e48, 3);
  v.Record(20, record.Build());
  auto small = FileRecord(0, 5, u"small");
  small.NonResident(0x80, 0, 1, EncodeRunList({{2, 300}}), 5000, 3);
  v.Record(21, small.Build());
  test::TempDir dir;
  const auto image = dir / "volume.img";
  test::WriteFile(image, v.Source()->bytes());
  const auto volume = Volume::Open(SourceKind::LogicalDrive, image).volume;
  ASSERT_TRUE(volume);
  test::ScanRun scan = test::ScanVolume(*volume);
  const_cast<ItemNode*>(Named(scan.tree, u"small"))->size = std::uint64_t{1} << 60;
  ASSERT_TRUE(SaveScanInfo(dir / "scan.qns", volume->sourceName(), volume->context(), scan.tree));

  const LoadResult stored = ReadScanInfo(dir / "scan.qns");
  EXPECT_EQ(Named(stored.tree, u"claims 2^48")->size, k2e48);
  const LoadResult loaded = LoadScanInfo(dir / "scan.qns");
  ASSERT_TRUE(loaded.reopened);
  for (const char16_t* name : {u"claims 2^48", u"small"}) {
    const ItemNode* item = Named(loaded.tree, name);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->size, 8192u) << Utf8FromUtf16(name);
    EXPECT_EQ(item->claimedSize, name == std::u16string(u"small") ? std::uint64_t{1} << 60 : k2e48);
  }
}

}  // namespace
}  // namespace restorix
