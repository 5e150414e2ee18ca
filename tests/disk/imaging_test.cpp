// Imaging a volume into a file: block rounding, cancellation, lost sources,
// failed writes, and an image that opens exactly like its volume.
#include "disk/imaging.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include "engine.h"
#include "support/fake_source.h"
#include "support/test_support.h"

namespace restorix {
namespace {

using test::TempDir;

std::vector<std::uint8_t> Pattern(std::size_t sectors) {
  std::vector<std::uint8_t> bytes(sectors * 512);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<std::uint8_t>(i / 512 + i);
  return bytes;
}

// A volume of `sectors` sectors in memory, its context set as if mounted.
std::unique_ptr<Engine> VolumeOf(std::size_t sectors, test::FakeSource** fake = nullptr) {
  auto engine = std::make_unique<Engine>();
  auto source = std::make_unique<test::FakeSource>(Pattern(sectors));
  if (fake) *fake = source.get();
  engine->OpenSource(SOURCE_PHYSICAL_DISK, std::move(source), u"volume");
  engine->keepRunning = 1;
  return engine;
}

TEST(ImageVolumeTest, LengthIsRoundedUpToWholeBlocks) {
  struct Case {
    std::size_t sectors, imageSectors;
  };
  for (const Case c : {Case{100, 126}, Case{126, 126}, Case{63, 63}, Case{1, 63}}) {
    TempDir dir;
    auto engine = VolumeOf(c.sectors);
    const ImageResult result = ImageVolume(*engine, dir / "out.qni");
    EXPECT_NE(result.status, 0u);
    EXPECT_EQ(result.stop, ImageResult::Stop::None);
    const auto image = test::ReadFile(dir / "out.qni");
    ASSERT_EQ(image.size(), c.imageSectors * 512) << c.sectors;
    auto expected = Pattern(c.sectors);
    expected.resize(c.imageSectors * 512, 0);  // past the end: the cleared block
    EXPECT_EQ(image, expected) << c.sectors;
  }
}

// Stop is pressed while the first block is being copied.
struct CancelAfterFirstBlock : TaskEvents {
  Engine* engine = nullptr;
  void ScanProgress(std::uint64_t, std::uint64_t) override { engine->keepRunning = 0; }
};

TEST(ImageVolumeTest, CancellingKeepsWhatWasWrittenAndReportsNotCompleted) {
  TempDir dir;
  auto engine = VolumeOf(5000);
  CancelAfterFirstBlock events;
  events.engine = engine.get();
  engine->SetEvents(&events);
  const ImageResult result = ImageVolume(*engine, dir / "out.qni");
  EXPECT_EQ(result.status, 0u);
  EXPECT_EQ(result.stop, ImageResult::Stop::Cancelled);
  // What was written before the stop is whole blocks, short of the volume.
  const auto written = std::filesystem::file_size(dir / "out.qni");
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, 5000u * 512);
  EXPECT_EQ(written % (63 * 512), 0u);
  EXPECT_EQ(written, result.sectorsWritten * 512);
}

TEST(ImageVolumeTest, ALostSourceOrAFullDiskIsNeverReportedAsCompleted) {
  {
    TempDir dir;
    test::FakeSource* fake = nullptr;
    auto engine = VolumeOf(5000, &fake);
    fake->LoseAfter(1);
    const ImageResult result = ImageVolume(*engine, dir / "out.qni");
    EXPECT_EQ(result.status, 0u);
    EXPECT_EQ(result.stop, ImageResult::Stop::SourceLost);
    EXPECT_EQ(engine->keepRunning, 1u);
  }
  {
    // A file-size limit stands in for a full disk.
    TempDir dir;
    auto engine = VolumeOf(1000);
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit limited = old;
    limited.rlim_cur = 100 * 512;
    ::setrlimit(RLIMIT_FSIZE, &limited);
    const ImageResult result = ImageVolume(*engine, dir / "out.qni");
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(result.status, 0u);
    EXPECT_EQ(result.stop, ImageResult::Stop::WriteFailed);
    EXPECT_EQ(result.error, EFBIG);
    EXPECT_TRUE(result.created);
  }
  {
    auto engine = VolumeOf(10);
    for (const char* path : {"/dev/null", "/tmp"}) {
      const ImageResult result = ImageVolume(*engine, path);
      EXPECT_EQ(result.stop, ImageResult::Stop::NotAFile) << path;
      EXPECT_FALSE(result.created);
    }
  }
  {
    auto engine = VolumeOf(10);
    const ImageResult result = ImageVolume(*engine, "/nonexistent-folder/out.qni");
    EXPECT_EQ(result.stop, ImageResult::Stop::CannotCreate);
    EXPECT_EQ(result.error, ENOENT);
  }
}

TEST(ImageVolumeTest, ReadErrorsLeaveZerosAndTheRunGoesOn) {
  TempDir dir;
  test::FakeSource* fake = nullptr;
  auto engine = VolumeOf(200, &fake);
  fake->FailRange(70 * 512, 512, EIO);
  const ImageResult result = ImageVolume(*engine, dir / "out.qni");
  EXPECT_NE(result.status, 0u);
  const auto image = test::ReadFile(dir / "out.qni");
  auto expected = Pattern(200);
  std::fill(expected.begin() + 70 * 512, expected.begin() + 71 * 512, 0);
  expected.resize(252 * 512, 0);
  EXPECT_EQ(image, expected);
}

TEST(ImageVolumeTest, RefusesToWriteOntoItsOwnSource) {
  TempDir dir;
  const auto volume = dir / "volume.img";
  test::MakeSparseFile(volume, 64 << 20);
  test::RunOk("mkfs.fat -F 32 -s 1 " + test::Quote(volume.string()) + " >/dev/null");
  const auto before = test::ReadFile(volume);
  Engine engine;
  ASSERT_TRUE(engine.OpenSource(SOURCE_LOGICAL_DRIVE, volume));
  engine.keepRunning = 1;
  const ImageResult result = ImageVolume(engine, volume);
  EXPECT_EQ(result.stop, ImageResult::Stop::OntoSource);
  EXPECT_EQ(test::ReadFile(volume), before);
}

// Every read of an image is at the same sector number as on its volume, so
// the image opens with the same geometry and MFT location.
TEST(ImageVolumeTest, AnImageOpensExactlyLikeItsVolume) {
  TempDir dir;
  struct Maker {
    const char* name;
    std::string command;
  };
  const Maker makers[] = {
      {"ntfs", "mkntfs -F -q -Q -c 4096 "},
      {"fat32", "mkfs.fat -F 32 -s 2 "},
      {"fat16", "mkfs.fat -F 16 -s 4 "},
  };
  for (const Maker& m : makers) {
    const auto volume = dir / (std::string(m.name) + ".img");
    test::MakeSparseFile(volume, (48 << 20) + 5 * 512);  // not a whole number of blocks
    test::RunOk(m.command + test::Quote(volume.string()) + " >/dev/null 2>&1");
    Engine original;
    ASSERT_TRUE(original.OpenSource(SOURCE_LOGICAL_DRIVE, volume)) << m.name;
    original.keepRunning = 1;
    const auto imagePath = dir / (std::string(m.name) + ".qni");
    ASSERT_NE(ImageVolume(original, imagePath).status, 0u) << m.name;

    Engine copy;
    ASSERT_TRUE(copy.OpenSource(SOURCE_IMAGE_FILE, imagePath)) << m.name;
    EXPECT_EQ(copy.context, original.context) << m.name;
    EXPECT_EQ(copy.mftRuns, original.mftRuns) << m.name;
    EXPECT_EQ(copy.mftRecordCount, original.mftRecordCount) << m.name;
    const auto image = test::ReadFile(imagePath);
    const auto bytes = test::ReadFile(volume);
    const std::uint64_t volumeBytes = original.context.totalSectors() * 512;
    EXPECT_EQ(image.size() % (63 * 512), 0u);
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(volumeBytes),
                           bytes.begin()))
        << m.name;
  }
}

TEST(ImageFileNameTest, EnglishNamesWithFourLettersForSeptember) {
  std::tm day{};
  day.tm_year = 2026 - 1900;
  day.tm_mon = 8;
  day.tm_mday = 5;
  day.tm_wday = 6;
  EXPECT_EQ(ImageFileName(day), "QN_RSX_Image # Sat, 05-Sept-2026");
  day.tm_mon = 11, day.tm_mday = 25, day.tm_wday = 5;
  EXPECT_EQ(ImageFileName(day), "QN_RSX_Image # Fri, 25-Dec-2026");
}

}  // namespace
}  // namespace restorix

namespace restorix {
namespace {

// An NTFS volume mounted with ntfs-3g (FUSE: its files carry a device number
// of their own) from an image file and from a loop device: an image written
// into that mount would overwrite the volume being imaged.
TEST(ImageVolumeTest, NeverImagesIntoAFileSystemStoredOnTheSource) {
  if (::geteuid() != 0 || !test::HaveTool("ntfs-3g") || !test::HaveTool("losetup")) {
    GTEST_SKIP() << "needs root, ntfs-3g and losetup";
  }
  TempDir dir;
  const auto volume = dir / "ntfs.img";
  const auto mountPoint = dir / "mnt";
  std::filesystem::create_directory(mountPoint);
  test::MakeSparseFile(volume, 32 << 20);
  test::RunOk("mkntfs -F -q -Q " + test::Quote(volume.string()) + " >/dev/null 2>&1");

  const auto attach = test::Run("losetup --find --show " + test::Quote(volume.string()));
  if (attach.exitCode != 0) GTEST_SKIP() << "no loop devices here";
  const std::string device = attach.out.substr(0, attach.out.find('\n'));
  struct Case {
    std::string mountFrom, imageFrom;
  };
  for (const Case& c : {Case{volume.string(), volume.string()}, Case{device, device}}) {
    if (test::Run("ntfs-3g " + test::Quote(c.mountFrom) + " " + test::Quote(mountPoint.string()))
            .exitCode != 0) {
      test::Run("losetup -d " + device);
      GTEST_SKIP() << "cannot mount with ntfs-3g here";
    }
    Engine engine;
    const bool opened = static_cast<bool>(engine.OpenSource(SOURCE_LOGICAL_DRIVE, c.imageFrom));
    engine.keepRunning = 1;
    const ImageResult result = ImageVolume(engine, mountPoint / "image.qni");
    const bool written = std::filesystem::exists(mountPoint / "image.qni");
    test::Run("umount " + test::Quote(mountPoint.string()));
    EXPECT_TRUE(opened) << c.imageFrom;
    EXPECT_EQ(result.stop, ImageResult::Stop::OntoSource) << c.imageFrom;
    EXPECT_FALSE(written) << c.imageFrom;
  }
  test::Run("losetup -d " + device);
}

}  // namespace
}  // namespace restorix
