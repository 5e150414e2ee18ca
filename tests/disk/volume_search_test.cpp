// The volume search over copies of the demo disk (a FAT32 volume at sector
// 2048 and an NTFS one at 83968, made by mkfs.fat and mkntfs) whose tables
// and boot sectors were damaged the ways a user meets.
#include "disk/volume_search.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "disk/volume.h"
#include "support/fake_source.h"
#include "support/test_support.h"
#include "util/text.h"

namespace restorix {
namespace {

constexpr std::uint64_t kFatStart = 2048, kFatSectors = 81920;
constexpr std::uint64_t kNtfsStart = 83968, kNtfsSectors = 57344;
constexpr std::uint64_t kDiskSectors = 147456;

void ZeroSectors(const std::filesystem::path& image, std::uint64_t sector,
                 std::uint64_t count = 1) {
  std::fstream file(image, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(static_cast<std::streamoff>(sector * 512));
  const std::string zeros(count * 512, '\0');
  file.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
}

void CopySector(const std::filesystem::path& image, std::uint64_t from, std::uint64_t to) {
  std::fstream file(image, std::ios::in | std::ios::out | std::ios::binary);
  std::string sector(512, '\0');
  file.seekg(static_cast<std::streamoff>(from * 512));
  file.read(sector.data(), 512);
  file.seekp(static_cast<std::streamoff>(to * 512));
  file.write(sector.data(), 512);
}

std::vector<FoundVolume> Search(const std::filesystem::path& image) {
  const OpenResult disk = Volume::Open(SourceKind::PhysicalDisk, image);
  EXPECT_TRUE(disk);
  if (!disk) return {};
  StopToken stop;
  TaskEvents events;
  std::vector<FoundVolume> found = SearchVolumes(*disk.volume, {stop, events});
  MarkPartitions(found, ListPartitions(image));
  return found;
}

FoundVolume Fat(bool primary, bool backup, int partition) {
  return {kFatStart, kFatSectors, FsType::Fat32, u"DEMOFAT32", primary, backup, partition};
}
FoundVolume Ntfs(bool primary, bool backup, int partition) {
  return {kNtfsStart, kNtfsSectors, FsType::Ntfs, u"DEMONTFS", primary, backup, partition};
}

std::string Show(const std::vector<FoundVolume>& volumes) {
  std::string text;
  for (const FoundVolume& v : volumes) {
    text += std::to_string(v.start) + "+" + std::to_string(v.sectors) + " fs" +
            std::to_string(static_cast<int>(v.fsType)) + " '" + Utf8FromUtf16(v.label) + "' " +
            (v.primaryBoot ? "P" : "") + (v.backupBoot ? "B" : "") + " #" +
            std::to_string(v.partition) + "\n";
  }
  return text;
}

TEST(VolumeSearchTest, FindsEachVolumeWhateverHappenedToTheTable) {
  if (!test::HaveTool("sfdisk")) GTEST_SKIP() << "needs sfdisk";
  const auto gpt = [](const std::filesystem::path& image) {
    test::RunOk(
        "printf 'label: gpt\\nstart=2048, size=81920, type=L\\nstart=83968, size=57344, "
        "type=L\\n' | sfdisk -q " +
        test::Quote(image.string()));
    ZeroSectors(image, 1);                 // the primary header
    ZeroSectors(image, kDiskSectors - 1);  // the backup header
  };
  struct Case {
    const char* what;
    std::function<void(const std::filesystem::path&)> damage;
    std::vector<FoundVolume> expected;
  };
  const Case cases[] = {
      {"table intact", [](auto&) {}, {Fat(true, true, 1), Ntfs(true, true, 2)}},
      {"table zeroed",
       [](auto& image) { ZeroSectors(image, 0); },
       {Fat(true, true, 0), Ntfs(true, true, 0)}},
      {"GPT with both headers wiped", gpt, {Fat(true, true, 0), Ntfs(true, true, 0)}},
      {"table and first boot sectors zeroed",
       [](auto& image) {
         ZeroSectors(image, 0);
         ZeroSectors(image, kFatStart);
         ZeroSectors(image, kNtfsStart);
       },
       {Fat(false, true, 0), Ntfs(false, true, 0)}},
      {"boot sectors copied where no volume is",
       [](auto& image) {
         ZeroSectors(image, 0);
         CopySector(image, kFatStart, 100);
         CopySector(image, kNtfsStart, 200);
         CopySector(image, kNtfsStart, kDiskSectors - 2);
       },
       {Fat(true, true, 0), Ntfs(true, true, 0)}},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    const auto image = dir / "disk.img";
    std::filesystem::copy_file(test::Fixture("demo-disk.img"), image);
    c.damage(image);
    EXPECT_EQ(Show(Search(image)), Show(c.expected)) << c.what;
  }
}

// A volume at an offset is what the partition would give, and the source is
// seen as its bytes alone, so that the output checks know them.
TEST(VolumeSearchTest, OffsetOpensTheVolumeAsItsPartitionDoes) {
  const auto disk = test::Fixture("demo-disk.img");
  for (const auto& [partition, start, sectors] :
       {std::tuple(1u, kFatStart, kFatSectors), std::tuple(2u, kNtfsStart, kNtfsSectors)}) {
    const OpenResult byTable = Volume::Open(SourceKind::LogicalDrive, disk, partition);
    const OpenResult byOffset = Volume::Open(SourceKind::LogicalDrive, disk, 0, false, start);
    ASSERT_TRUE(byTable && byOffset) << partition;
    EXPECT_EQ(byOffset.volume->context(), byTable.volume->context()) << partition;
    EXPECT_EQ(byOffset.volume->mftRuns(), byTable.volume->mftRuns()) << partition;
    EXPECT_FALSE(byOffset.volume->isImageFile());
    const SourceIdentity identity = byOffset.volume->identity();
    EXPECT_EQ(std::tie(identity.first, identity.length), std::tuple(start * 512, sectors * 512))
        << partition;
  }
  EXPECT_EQ(Volume::Open(SourceKind::LogicalDrive, disk, 0, false, kFatStart + 1).failure,
            OpenFailure::NotRecognised);
  EXPECT_EQ(Volume::Open(SourceKind::LogicalDrive, disk, 0, false, ~std::uint64_t{0}).failure,
            OpenFailure::NotRecognised);
  const OpenResult tail = Volume::Open(SourceKind::PhysicalDisk, disk, 0, false, kNtfsStart);
  ASSERT_TRUE(tail);
  EXPECT_EQ(tail.volume->context().totalSectors(), kDiskSectors - kNtfsStart);

  // A FAT32 volume found by its backup opens from it.
  test::TempDir dir;
  const auto image = dir / "disk.img";
  std::filesystem::copy_file(disk, image);
  ZeroSectors(image, kFatStart);
  const OpenResult fromBackup = Volume::Open(SourceKind::LogicalDrive, image, 0, false, kFatStart);
  ASSERT_TRUE(fromBackup);
  EXPECT_EQ(fromBackup.volume->context(),
            Volume::Open(SourceKind::LogicalDrive, disk, 1).volume->context());
}

// Devices with 4096-byte sectors read in whole sectors; volumes and their
// structures are still found at any 512-byte position (the NTFS backup boot
// sector is not on a 4096-byte boundary).
TEST(VolumeSearchTest, LargeDeviceSectorsAndPartialLastSector) {
  std::vector<std::uint8_t> bytes = test::ReadFile(test::Fixture("demo-disk.img"));
  std::fill_n(bytes.begin(), 512, 0);
  bytes.resize(bytes.size() - 100);
  const auto source = std::make_shared<test::FakeSource>(bytes, 4096);
  const OpenResult disk = Volume::Open(SourceKind::PhysicalDisk, source, u"memory");
  ASSERT_TRUE(disk);
  StopToken stop;
  TaskEvents events;
  EXPECT_EQ(Show(SearchVolumes(*disk.volume, {stop, events})),
            Show({Fat(true, true, 0), Ntfs(true, true, 0)}));
  stop.RequestStop();
  EXPECT_TRUE(SearchVolumes(*disk.volume, {stop, events}).empty())
      << "a stopped search reads nothing";
}

// FAT16 keeps no backup: its one boot sector, its FATs and its fixed root
// folder are what the search goes by. A search stopped part way keeps what
// it found.
TEST(VolumeSearchTest, Fat16VolumeAndAStopPartWay) {
  if (!test::HaveTool("mkfs.fat")) GTEST_SKIP() << "needs mkfs.fat";
  test::TempDir dir;
  test::MakeVolume(dir / "fat16.img", 32 << 20, "mkfs.fat -F 16 -n LOSTFAT16 --invariant");
  const std::vector<std::uint8_t> volume = test::ReadFile(dir / "fat16.img");
  constexpr std::uint64_t kStart = 16384;  // 8 MiB in: past the first piece read
  std::vector<std::uint8_t> bytes(kStart * 512);
  bytes.insert(bytes.end(), volume.begin(), volume.end());
  bytes.resize(bytes.size() + (8 << 20));
  const auto disk =
      Volume::Open(SourceKind::PhysicalDisk, std::make_shared<test::FakeSource>(bytes), u"memory");
  ASSERT_TRUE(disk);

  struct StopAfterFirstPiece : TaskEvents {
    StopToken* stop = nullptr;
    void ScanProgress(std::uint64_t, std::uint64_t) override {
      if (stop) stop->RequestStop();
    }
  };
  for (const bool stopEarly : {false, true}) {
    StopToken stop;
    StopAfterFirstPiece events;
    if (stopEarly) events.stop = &stop;
    const std::vector<FoundVolume> found = SearchVolumes(*disk.volume, {stop, events});
    if (stopEarly) {
      EXPECT_TRUE(found.empty()) << "the volume starts after the first piece";
      continue;
    }
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(Show(found),
              Show({{kStart, volume.size() / 512, FsType::Fat16, u"LOSTFAT16", true, false, 0}}));
  }
}

}  // namespace
}  // namespace restorix
