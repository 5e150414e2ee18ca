// Partition tables of whole-disk images, and volumes opened through them.
#include "disk/partitions.h"

#include <gtest/gtest.h>

#include "disk/volume.h"
#include "support/test_support.h"

namespace restorix {
namespace {

TEST(PartitionsTest, DemoDiskHoldsAFat32AndAnNtfsPartition) {
  const auto disk = test::Fixture("demo-disk.img");
  const PartitionList list = ListPartitions(disk);
  EXPECT_EQ(list.table, "dos");
  ASSERT_EQ(list.entries.size(), 2u);
  EXPECT_EQ(std::tie(list.entries[0].number, list.entries[0].start, list.entries[0].type),
            std::tuple(1, 2048u, "0x0c"));
  EXPECT_EQ(std::tie(list.entries[1].number, list.entries[1].type), std::tuple(2, "0x07"));

  const auto fat = Volume::Open(SourceKind::LogicalDrive, disk, 1).volume;
  ASSERT_TRUE(fat);
  EXPECT_EQ(fat->context().fsType(), FsType::Fat32);
  EXPECT_EQ(fat->context().firstSector(), 0u) << "a partition is a volume starting at sector 0";
  const auto ntfs = Volume::Open(SourceKind::LogicalDrive, disk, 2).volume;
  ASSERT_TRUE(ntfs);
  EXPECT_EQ(ntfs->context().fsType(), FsType::Ntfs);
  EXPECT_LE(ntfs->context().totalSectors(), list.entries[1].length);
}

TEST(PartitionsTest, GptAndLogicalPartitions) {
  test::TempDir dir;
  test::MakeVolume(
      dir / "gpt.img", 64 << 20,
      "printf 'label: gpt\\nstart=2048, size=40960, name=\"data\"\\nsize=20480\\n' | sfdisk -q");
  PartitionList list = ListPartitions(dir / "gpt.img");
  EXPECT_EQ(list.table, "gpt");
  ASSERT_EQ(list.entries.size(), 2u);
  EXPECT_EQ(std::tie(list.entries[0].start, list.entries[0].length, list.entries[0].name),
            std::tuple(2048u, 40960u, "data"));

  test::MakeVolume(dir / "mbr.img", 64 << 20,
                   "printf 'label: dos\\nsize=20480, type=7\\ntype=5\\nsize=10240, type=c\\n"
                   "size=10240, type=7\\n' | sfdisk -q");
  std::vector<int> numbers;
  for (const auto& e : ListPartitions(dir / "mbr.img").entries)
    numbers.push_back(e.number);
  EXPECT_EQ(numbers, (std::vector<int>{1, 2, 5, 6}));

  test::MakeSparseFile(dir / "plain.img", 1 << 20);
  list = ListPartitions(dir / "plain.img");
  EXPECT_TRUE(list.entries.empty() && list.table.empty());
  EXPECT_EQ(ListPartitions(dir / "none").error, ENOENT);
}

}  // namespace
}  // namespace restorix
