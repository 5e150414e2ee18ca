// Volumes made by mkfs.fat and mkntfs, and one that Windows formatted: every
// field of the volume context must agree with what The Sleuth Kit's fsstat
// (and istat for the MFT's own runs) reports.
#include <gtest/gtest.h>

#include <sstream>

#include "disk/volume.h"
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

// The clusters of the $MFT's unnamed $DATA attribute, in order, as istat lists them.
std::vector<std::uint64_t> MftClustersByIstat(const std::filesystem::path& image,
                                              std::uint64_t offset) {
  const std::string out =
      test::RunOk("istat -o " + std::to_string(offset) + " " + Quote(image.string()) + " 0");
  std::istringstream lines(out.substr(out.find("Type: $DATA (128")));
  std::vector<std::uint64_t> clusters;
  std::string line;
  std::getline(lines, line);  // the attribute's own line
  while (std::getline(lines, line) && line.rfind("Type:", 0) != 0) {
    std::istringstream words(line);
    for (std::uint64_t cluster = 0; words >> cluster;)
      clusters.push_back(cluster);
  }
  return clusters;
}

void ExpectNtfsAgrees(const Volume& engine, const std::filesystem::path& image,
                      std::uint64_t offset) {
  const auto f = test::Fsstat(image, offset);
  const VolumeContext& c = engine.context();
  ASSERT_EQ(f.at("File System Type"), "NTFS");
  const std::uint64_t sector = Number(f.at("Sector Size"));
  EXPECT_EQ(c.fsType(), FsType::Ntfs);
  EXPECT_EQ(c.bytesPerSector(), sector);
  EXPECT_EQ(c.sectorsPerCluster(), Number(f.at("Cluster Size")) / sector);
  EXPECT_EQ(c.totalSectors(), Range(f.at("Total Sector Range")).second + 1);
  EXPECT_EQ(c.mftCluster(), Number(f.at("First Cluster of MFT")));
  EXPECT_EQ(c.mftMirrorCluster(), Number(f.at("First Cluster of MFT Mirror")));
  EXPECT_EQ(c.volumeSerial(), std::stoull(f.at("Volume Serial Number"), nullptr, 16));
  EXPECT_EQ(c.mftRecordSectors(), Number(f.at("Size of MFT Entries")) / sector);
  EXPECT_EQ(c.indexRecordSectors(), Number(f.at("Size of Index Records")) / sector);
  EXPECT_EQ(c.firstSector(), 0u);

  std::vector<std::uint64_t> clusters;
  for (const RunNode& run : engine.mftRuns()) {
    for (std::uint64_t i = 0; i < run.clusterCount; ++i)
      clusters.push_back(run.startCluster + i);
  }
  EXPECT_EQ(clusters, MftClustersByIstat(image, offset));
  EXPECT_EQ(engine.mftRecordCount(),
            clusters.size() * c.sectorsPerCluster() / c.mftRecordSectors());
}

void ExpectFatAgrees(const Volume& engine, const std::filesystem::path& image) {
  const auto f = test::Fsstat(image);
  const VolumeContext& c = engine.context();
  const bool fat16 = f.at("File System Type") == "FAT16";
  const std::uint64_t sector = Number(f.at("Sector Size"));
  const auto fat0 = Range(f.at("* FAT 0"));
  const std::uint64_t fatSectors = fat0.second - fat0.first + 1;
  EXPECT_EQ(c.fsType(), fat16 ? FsType::Fat16 : FsType::Fat32);
  EXPECT_EQ(c.fatKind(), fat16 ? 1 : 2);
  EXPECT_EQ(c.bytesPerSector(), sector);
  EXPECT_EQ(c.sectorsPerCluster(), Number(f.at("Cluster Size")) / sector);
  EXPECT_EQ(c.totalSectors(), Range(f.at("Total Range")).second + 1);
  EXPECT_EQ(c.fatStart(), fat0.first);
  EXPECT_EQ(c.fat2Start(), Range(f.at("* FAT 1")).first);
  EXPECT_EQ(c.dataStart(), Range(f.at("* Data Area")).first);
  EXPECT_EQ(c.fatSectors(), fatSectors & 0xFFFF);
  EXPECT_EQ(c.fatEntryCount(), fatSectors * sector / (fat16 ? 2 : 4));  // the FAT's entries
  EXPECT_EQ(c.volumeSerial(), Number(f.at("Volume ID")));
}

// "MiB command": the size of the volume and the command that formats it.
class MadeVolumeTest : public testing::TestWithParam<std::string> {};

TEST_P(MadeVolumeTest, ContextAgreesWithFsstat) {
  const std::string command = GetParam().substr(GetParam().find(' ') + 1);
  TempDir dir;
  const auto image = dir / "volume.img";
  test::MakeVolume(image, std::stoull(GetParam()) << 20, command);
  const auto engine = Volume::Open(SourceKind::LogicalDrive, image).volume;
  ASSERT_TRUE(engine);
  if (command.rfind("mkntfs", 0) == 0) {
    ExpectNtfsAgrees(*engine, image, 0);
  } else {
    ExpectFatAgrees(*engine, image);
  }
}

// FAT16 volumes keep the 512-entry fixed root folder that the scanner reads;
// mkfs.fat would grow it to fill a whole large cluster unless told not to
// align (-a -r 512), and such volumes are not recognised.
INSTANTIATE_TEST_SUITE_P(
    MkfsFat, MadeVolumeTest,
    testing::Values("16 mkfs.fat -F 16", "40 mkfs.fat -F 16 -s 2", "256 mkfs.fat -F 16 -s 8",
                    "2000 mkfs.fat -F 16 -a -r 512 -s 64", "4000 mkfs.fat -F 16 -a -r 512 -s 128",
                    "40 mkfs.fat -F 32 -s 1", "300 mkfs.fat -F 32 -s 8",
                    "2100 mkfs.fat -F 32 -s 64", "300 mkfs.fat -F 32 -s 1 -S 4096",
                    "300 mkfs.fat -F 16 -a -r 512 -s 2 -S 4096"));

// Every cluster size from 512 B to 64 KiB, and 4096-byte sectors.
INSTANTIATE_TEST_SUITE_P(MkNtfs, MadeVolumeTest,
                         testing::Values("96 mkntfs -FqQ -c 512", "96 mkntfs -FqQ -c 1024",
                                         "96 mkntfs -FqQ -c 2048", "96 mkntfs -FqQ -c 4096 -s 4096",
                                         "96 mkntfs -FqQ -c 8192",
                                         "96 mkntfs -FqQ -c 16384 -s 4096",
                                         "96 mkntfs -FqQ -c 32768", "96 mkntfs -FqQ -c 65536",
                                         "96 mkntfs -FqQ -c 65536 -s 4096"));

// The volume Windows 10 formatted, opened as partition 1 of its disk image.
TEST(WindowsVolumeTest, ContextAgreesWithFsstat) {
  const auto disk = test::Fixture("ntfs-lastaccess.raw");
  const auto engine = Volume::Open(SourceKind::LogicalDrive, disk, 1).volume;
  ASSERT_TRUE(engine);
  ExpectNtfsAgrees(*engine, disk, 128);
}

}  // namespace
}  // namespace restorix
