// Volumes made by mkfs.fat and mkntfs, and one that Windows formatted: every
// field of the volume context must agree with what The Sleuth Kit's fsstat
// (and istat for the MFT's own runs) reports.
#include <gtest/gtest.h>

#include <sstream>

#include "engine.h"
#include "support/test_support.h"

namespace restorix {
namespace {

using test::Quote;
using test::TempDir;

// "a - b" -> {a, b}
std::pair<std::uint64_t, std::uint64_t> Range(const std::string& text) {
  std::uint64_t a = 0, b = 0;
  char dash = 0;
  std::istringstream(text) >> a >> dash >> b;
  return {a, b};
}

std::uint64_t Number(const std::string& text) {
  return std::stoull(text, nullptr, 0);
}

// The clusters of the $MFT's unnamed $DATA attribute as istat lists them,
// folded into runs.
std::vector<RunNode> MftRunsByIstat(const std::filesystem::path& image, std::uint64_t offset) {
  const std::string out =
      test::RunOk("istat -o " + std::to_string(offset) + " " + Quote(image.string()) + " 0");
  std::vector<RunNode> runs;
  std::istringstream lines(out.substr(out.find("Type: $DATA (128")));
  std::string line;
  std::getline(lines, line);  // the attribute's own line
  while (std::getline(lines, line) && line.rfind("Type:", 0) != 0) {
    std::istringstream words(line);
    std::uint64_t cluster = 0;
    while (words >> cluster) {
      if (!runs.empty() && runs.back().startCluster + runs.back().clusterCount == cluster) {
        ++runs.back().clusterCount;
      } else {
        runs.push_back({1, cluster});
      }
    }
  }
  return runs;
}

void ExpectNtfsAgrees(const Engine& engine, const std::filesystem::path& image,
                      std::uint64_t offset) {
  const auto f = test::Fsstat(image, offset);
  const VolumeContext& c = engine.context;
  ASSERT_EQ(f.at("File System Type"), "NTFS");
  const std::uint64_t sector = Number(f.at("Sector Size"));
  EXPECT_EQ(c.fsType(), FS_NTFS);
  EXPECT_EQ(c.bytesPerSector(), sector);
  EXPECT_EQ(c.sectorsPerCluster(), Number(f.at("Cluster Size")) / sector);
  EXPECT_EQ(c.totalSectors(), Range(f.at("Total Sector Range")).second + 1);
  EXPECT_EQ(c.mftCluster(), Number(f.at("First Cluster of MFT")));
  EXPECT_EQ(c.mftMirrorCluster(), Number(f.at("First Cluster of MFT Mirror")));
  EXPECT_EQ(c.volumeSerial(), std::stoull(f.at("Volume Serial Number"), nullptr, 16));
  EXPECT_EQ(c.mftRecordSectors(), Number(f.at("Size of MFT Entries")) / sector);
  EXPECT_EQ(c.indexRecordSectors(), Number(f.at("Size of Index Records")) / sector);
  EXPECT_EQ(c.firstSector(), 0u);

  const std::vector<RunNode> runs = MftRunsByIstat(image, offset);
  EXPECT_EQ(engine.mftRuns, runs);
  std::uint64_t clusters = 0;
  for (const RunNode& run : runs)
    clusters += run.clusterCount;
  EXPECT_EQ(engine.mftRecordCount, clusters * c.sectorsPerCluster() / c.mftRecordSectors());
}

void ExpectFatAgrees(const Engine& engine, const std::filesystem::path& image) {
  const auto f = test::Fsstat(image);
  const VolumeContext& c = engine.context;
  const bool fat16 = f.at("File System Type") == "FAT16";
  const std::uint64_t sector = Number(f.at("Sector Size"));
  const auto fat0 = Range(f.at("* FAT 0"));
  const std::uint64_t fatSectors = fat0.second - fat0.first + 1;
  EXPECT_EQ(c.fsType(), fat16 ? FS_FAT16 : FS_FAT32);
  EXPECT_EQ(c.fatKind(), fat16 ? 1 : 2);
  EXPECT_EQ(c.bytesPerSector(), sector);
  EXPECT_EQ(c.sectorsPerCluster(), Number(f.at("Cluster Size")) / sector);
  EXPECT_EQ(c.totalSectors(), Range(f.at("Total Range")).second + 1);
  EXPECT_EQ(c.fatStart(), fat0.first);
  EXPECT_EQ(c.fat2Start(), Range(f.at("* FAT 1")).first);
  EXPECT_EQ(c.dataStart(), Range(f.at("* Data Area")).first);
  EXPECT_EQ(c.fatSectors(), fatSectors & 0xFFFF);
  EXPECT_EQ(c.fatEntryCount(), fatSectors * (fat16 ? 256 : 128));
}

struct FatCase {
  int fatBits;
  std::uint64_t mebibytes;
  int sectorsPerCluster;
  int sectorSize;
};

class FatVolumeTest : public testing::TestWithParam<FatCase> {};

TEST_P(FatVolumeTest, ContextAgreesWithFsstat) {
  const FatCase& p = GetParam();
  TempDir dir;
  const auto image = dir / "fat.img";
  test::MakeSparseFile(image, p.mebibytes << 20);
  // FAT16 volumes keep the 512-entry fixed root folder that the scanner reads;
  // mkfs.fat would grow it to fill a whole large cluster unless told not to
  // align, and such volumes are not recognised.
  const std::string rootEntries = p.fatBits == 16 && p.sectorsPerCluster > 32 ? " -a -r 512" : "";
  test::RunOk("mkfs.fat -F " + std::to_string(p.fatBits) + rootEntries + " -s " +
              std::to_string(p.sectorsPerCluster) + " -S " + std::to_string(p.sectorSize) + " " +
              Quote(image.string()) + " >/dev/null");
  Engine engine;
  ASSERT_TRUE(engine.OpenSource(SOURCE_LOGICAL_DRIVE, image));
  ExpectFatAgrees(engine, image);
}

INSTANTIATE_TEST_SUITE_P(MkfsFat, FatVolumeTest,
                         testing::Values(FatCase{16, 40, 2, 512}, FatCase{16, 100, 4, 512},
                                         FatCase{16, 256, 8, 512}, FatCase{16, 1024, 32, 512},
                                         FatCase{16, 2000, 64, 512}, FatCase{16, 4000, 128, 512},
                                         FatCase{32, 40, 1, 512}, FatCase{32, 300, 8, 512},
                                         FatCase{32, 1024, 16, 512}, FatCase{32, 2100, 64, 512},
                                         FatCase{32, 300, 1, 4096}),
                         [](const auto& info) {
                           const FatCase& p = info.param;
                           return "FAT" + std::to_string(p.fatBits) + "_" +
                                  std::to_string(p.mebibytes) + "MiB_" +
                                  std::to_string(p.sectorsPerCluster) + "x" +
                                  std::to_string(p.sectorSize);
                         });

struct NtfsCase {
  int clusterBytes;
  int sectorSize;
};

class NtfsVolumeTest : public testing::TestWithParam<NtfsCase> {};

TEST_P(NtfsVolumeTest, ContextAgreesWithFsstat) {
  const NtfsCase& p = GetParam();
  TempDir dir;
  const auto image = dir / "ntfs.img";
  test::MakeSparseFile(image, 96 << 20);
  test::RunOk("mkntfs -F -q -Q -c " + std::to_string(p.clusterBytes) + " -s " +
              std::to_string(p.sectorSize) + " " + Quote(image.string()) + " >/dev/null 2>&1");
  Engine engine;
  ASSERT_TRUE(engine.OpenSource(SOURCE_LOGICAL_DRIVE, image));
  ExpectNtfsAgrees(engine, image, 0);
}

INSTANTIATE_TEST_SUITE_P(MkNtfs, NtfsVolumeTest,
                         testing::Values(NtfsCase{512, 512}, NtfsCase{1024, 512},
                                         NtfsCase{2048, 512}, NtfsCase{4096, 512},
                                         NtfsCase{8192, 512}, NtfsCase{16384, 512},
                                         NtfsCase{32768, 512}, NtfsCase{65536, 512},
                                         NtfsCase{4096, 4096}, NtfsCase{16384, 4096},
                                         NtfsCase{65536, 4096}),
                         [](const auto& info) {
                           return std::to_string(info.param.clusterBytes) + "_cluster_" +
                                  std::to_string(info.param.sectorSize) + "_sector";
                         });

// The volume Windows 10 formatted, opened as partition 1 of its disk image.
TEST(WindowsVolumeTest, ContextAgreesWithFsstat) {
  const auto disk = test::Fixture("ntfs-lastaccess.raw");
  Engine engine;
  ASSERT_TRUE(engine.OpenSource(SOURCE_LOGICAL_DRIVE, disk, 1));
  ExpectNtfsAgrees(engine, disk, 128);
  EXPECT_EQ(engine.context.totalSectors(), 518143u);
  EXPECT_EQ(engine.mftRecordCount, 256u);
}

}  // namespace
}  // namespace restorix
