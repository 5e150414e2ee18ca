// The recoverability verdict on NTFS, FAT32 and exFAT: a deleted file whose
// clusters a new file took is overwritten, one half taken is partial, an
// untouched one intact.
#include "fs/recoverability.h"

#include <gtest/gtest.h>

#include <map>

#include "disk/volume.h"
#include "support/ntfs_volume.h"
#include "support/test_support.h"
#include "util/text.h"

namespace restorix {
namespace {

using Verdicts = std::map<std::string, std::pair<Recoverable, int>>;
constexpr auto kIntact = Recoverable::Intact;
constexpr auto kPartial = Recoverable::Partial;
constexpr auto kOverwritten = Recoverable::Overwritten;

Verdicts VerdictsOf(const Volume& volume) {
  const test::ScanRun scan = test::ScanVolume(volume);
  EXPECT_TRUE(scan.completed);
  Verdicts verdicts;
  WalkTree(scan.tree.root(), [&](const ItemNode& node, int) {
    if (!node.isFolder())
      verdicts[Utf8FromUtf16(ItemPath(node))] = {node.recoverable.state, node.recoverable.percent};
  });
  return verdicts;
}

// NTFS in memory: three deleted 16 KiB files at clusters 300, 310 and 320,
// and a $Bitmap that gives 300-303 and 310-311 to something else.
TEST(RecoverabilityTest, NtfsClustersTheBitmapGivesAway) {
  test::MemoryNtfsVolume v;
  std::vector<std::uint8_t> bitmap(4096, 0);
  bitmap[300 / 8] = 0xF0;  // 300-303
  bitmap[310 / 8] = 0xC0;  // 310-311
  v.Cluster(100, bitmap);
  auto record6 = test::FileRecord(1, 5, u"$Bitmap");
  record6.NonResident(0x80, 0, 0, test::EncodeRunList({{1, 100}}), 256, 3);
  v.Record(6, record6.Build());
  const std::pair<std::uint32_t, std::uint64_t> files[] = {{20, 300}, {21, 310}, {22, 320}};
  for (const auto& [record, cluster] : files) {
    auto file = test::FileRecord(0, 5, u"file" + Utf16FromUtf8(std::to_string(record)));
    file.NonResident(0x80, 0, 3, test::EncodeRunList({{4, static_cast<std::int64_t>(cluster)}}),
                     16384, 3);
    v.Record(record, file.Build());
  }
  const OpenResult opened = v.Open();
  ASSERT_TRUE(opened);
  EXPECT_EQ(VerdictsOf(*opened.volume), (Verdicts{{"file20", {kOverwritten, 0}},
                                                  {"file21", {kPartial, 50}},
                                                  {"file22", {kIntact, 100}}}));
}

// FAT32 by mkfs.fat and mtools: the free-cluster hint is cleared before each
// new file, so mtools gives it the first free clusters, the deleted file's.
TEST(RecoverabilityTest, Fat32ClustersANewFileTook) {
  for (const char* tool : {"mkfs.fat", "mcopy", "python3"})
    if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
  test::TempDir dir;
  const std::string image = test::Quote((dir / "fat32.img").string());
  std::size_t first = 0;  // each file's bytes differ from the others'
  const auto file = [&](const char* name, std::size_t bytes) {
    test::WriteFile(dir / name, test::Pattern(bytes / 512, first += 100));
    return test::Quote((dir / name).string());
  };
  const std::string clearHint =
      "python3 -c \"import sys; f=open(sys.argv[1],'r+b'); f.seek(512+492); "
      "f.write(b'\\xff'*4)\" " +
      image;
  test::RunOk("mkfs.fat -F 32 -s 1 -C " + image + " 40000 >/dev/null && mmd -i " + image +
              " ::NEW && mcopy -i " + image + " " + file("A.BIN", 16384) + " ::A.BIN && mcopy -i " +
              image + " " + file("C.BIN", 16384) + " ::C.BIN && mcopy -i " + image + " " +
              file("E.BIN", 16384) + " ::E.BIN && mdel -i " + image + " ::A.BIN && " + clearHint +
              " && mcopy -i " + image + " " + file("B.BIN", 16384) + " ::NEW/B.BIN && mdel -i " +
              image + " ::C.BIN && " + clearHint + " && mcopy -i " + image + " " +
              file("D.BIN", 8192) + " ::NEW/D.BIN && mdel -i " + image + " ::E.BIN");
  const auto volume = Volume::Open(SourceKind::LogicalDrive, dir / "fat32.img").volume;
  ASSERT_TRUE(volume);
  // The three lost their first letter: each is X.BIN, listed as FAT lists
  // them, the last entry first (E, C, A).
  std::vector<std::pair<Recoverable, int>> got;
  const test::ScanRun scan = test::ScanVolume(*volume);
  WalkTree(scan.tree.root(), [&](const ItemNode& node, int) {
    if (!node.isFolder()) got.emplace_back(node.recoverable.state, node.recoverable.percent);
  });
  EXPECT_EQ(got, (std::vector<std::pair<Recoverable, int>>{
                     {kIntact, 100}, {kPartial, 50}, {kOverwritten, 0}}));
}

TEST(RecoverabilityTest, ExfatClustersTheAllocationBitmapGivesAway) {
  const auto volume =
      Volume::Open(SourceKind::LogicalDrive, test::Fixture("exfat-card.img")).volume;
  ASSERT_TRUE(volume);
  const Verdicts verdicts = VerdictsOf(*volume);
  EXPECT_EQ(verdicts.at("reused whole.dat"), std::make_pair(kOverwritten, 0));
  EXPECT_EQ(verdicts.at("reused half.dat"), std::make_pair(kPartial, 50));
  EXPECT_EQ(verdicts.at("DCIM/100CANON/IMG_0002.JPG"), std::make_pair(kIntact, 100));
  EXPECT_EQ(verdicts.at("empty.txt"), std::make_pair(kIntact, 100));
  // Read in consecutive clusters, the fragmented file runs over two that
  // the file it was written around holds.
  EXPECT_EQ(verdicts.at("frag.bin"), std::make_pair(kPartial, 60));
}

}  // namespace
}  // namespace restorix
