// Imaging a volume into a file: block rounding, cancellation, lost sources,
// failed writes, and an image that opens exactly like its volume.
#include "disk/imaging.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "disk/volume.h"
#include "platform/file_io.h"
#include "platform/storage.h"
#include "support/fake_source.h"
#include "support/test_support.h"
#include "tasks/tasks.h"

namespace restorix {
namespace {

using test::TempDir;
using Stop = ImageResult::Stop;

// Images the volume as its owner does, through the imaging task.
struct Imager : TaskSink {
  StopToken stop;
  bool stopOnProgress = false;
  ImagingRun run = ImagingRun::Resumable;
  void ScanProgress(std::uint64_t, std::uint64_t) override {
    if (stopOnProgress) stop.RequestStop();
  }
  ImageResult Image(const Volume& volume, const std::filesystem::path& path) {
    ProcessLogEntry entry;
    return ImagingTask(volume, path, stop, *this, entry, run).image;
  }
};
ImageResult Image(const Volume& volume, const std::filesystem::path& path) {
  return Imager().Image(volume, path);
}

// A completed image is the volume rounded up to whole blocks of 63 sectors,
// an unreadable sector left as zeros. A stop, a lost source, a full disk (a
// file-size limit stands in for it) or a path that cannot take an image is
// never reported as completed. An image begun stays with its map for a run
// that resumes, or is deleted with it by a single run; a completed one keeps
// its map either way.
TEST(ImageVolumeTest, CompletedAndUnfinishedImages) {
  enum Fault { None, BadSector70, Cancel, Lose, FileSizeLimit };
  const std::tuple<Fault, std::size_t, std::size_t, const char*, Stop, int> cases[] = {
      {None, 100, 126, "out.qni", Stop::None, 0},
      {None, 126, 126, "out.qni", Stop::None, 0},
      {None, 63, 63, "out.qni", Stop::None, 0},
      {None, 1, 63, "out.qni", Stop::None, 0},
      {BadSector70, 200, 252, "out.qni", Stop::None, 0},
      {Cancel, 5000, 0, "out.qni", Stop::Cancelled, 0},
      {Lose, 5000, 0, "out.qni", Stop::SourceLost, ENODEV},
      {FileSizeLimit, 5000, 0, "out.qni", Stop::WriteFailed, EFBIG},
      {None, 10, 0, "fifo", Stop::NotAFile, 0},
      {None, 10, 0, "folder", Stop::NotAFile, 0},
      {None, 10, 0, "missing/out.qni", Stop::CannotCreate, ENOENT}};
  ::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  rlimit limited = old;
  limited.rlim_cur = 100 * 512;
  for (const auto& [fault, sectors, imageSectors, name, stop, error] : cases)
    for (const ImagingRun run : {ImagingRun::Resumable, ImagingRun::Single}) {
      TempDir dir;
      ::mkfifo((dir / "fifo").c_str(), 0600);
      std::filesystem::create_directory(dir / "folder");
      const auto source = std::make_shared<test::FakeSource>(test::Pattern(sectors));
      const auto volume = Volume::Open(SourceKind::PhysicalDisk, source, u"volume").volume;
      Imager imager;
      imager.stopOnProgress = fault == Cancel;
      imager.run = run;
      if (fault == BadSector70) source->FailRange(70 * 512, 512, EIO);
      if (fault == Lose) source->LoseAfter(source->reads() + 1);
      if (fault == FileSizeLimit) ::setrlimit(RLIMIT_FSIZE, &limited);
      const ImageResult result = imager.Image(*volume, dir / name);
      ::setrlimit(RLIMIT_FSIZE, &old);
      SCOPED_TRACE(std::to_string(fault) + " " + std::to_string(sectors) + " " + name +
                   (run == ImagingRun::Single ? " single" : ""));
      const bool stays = result.completed() || run == ImagingRun::Resumable;
      EXPECT_EQ(result.completed(), stop == Stop::None);
      EXPECT_EQ(std::tie(result.stop, result.error), std::tie(stop, error));
      EXPECT_EQ(result.created, stop != Stop::NotAFile && stop != Stop::CannotCreate);
      EXPECT_EQ(std::filesystem::is_regular_file(dir / name), result.created && stays);
      EXPECT_EQ(std::filesystem::is_regular_file(dir / (std::string(name) + ".map")),
                result.created && stays && fault != FileSizeLimit);
      EXPECT_TRUE(std::filesystem::is_fifo(dir / "fifo") &&
                  std::filesystem::is_directory(dir / "folder"));
      if (stop == Stop::None) {
        auto expected = test::Pattern(sectors);
        if (fault == BadSector70) std::fill_n(expected.begin() + 70 * 512, 512, 0);
        expected.resize(imageSectors * 512, 0);
        EXPECT_EQ(test::ReadFile(dir / name), expected);
      }
      if (fault == Cancel) {
        EXPECT_LT(result.sectorsRescued, sectors);
      }
    }
}

// Every read of an image is at the same sector number as on its volume, so
// the image opens with the same geometry and MFT location; an image is never
// written onto the volume it copies.
TEST(ImageVolumeTest, AnImageOpensExactlyLikeItsVolume) {
  TempDir dir;
  for (const std::string mkfs :
       {"mkntfs -F -q -Q -c 4096", "mkfs.fat -F 32 -s 2", "mkfs.fat -F 16 -s 4"}) {
    const auto volume = dir / "volume.img";
    test::MakeVolume(volume, (48 << 20) + 5 * 512, mkfs);  // not a whole number of blocks
    const auto bytes = test::ReadFile(volume);
    const auto original = Volume::Open(SourceKind::LogicalDrive, volume).volume;
    ASSERT_TRUE(original) << mkfs;
    EXPECT_EQ(Image(*original, volume).stop, Stop::OntoSource) << mkfs;
    EXPECT_EQ(test::ReadFile(volume), bytes) << mkfs;
    ASSERT_TRUE(Image(*original, dir / "image.qni").completed()) << mkfs;

    const auto copy = Volume::Open(SourceKind::ImageFile, dir / "image.qni").volume;
    ASSERT_TRUE(copy) << mkfs;
    EXPECT_TRUE(copy->isImageFile()) << mkfs;
    EXPECT_EQ(copy->context(), original->context()) << mkfs;
    EXPECT_EQ(copy->mftRuns(), original->mftRuns()) << mkfs;
    EXPECT_EQ(copy->mftRecordCount(), original->mftRecordCount()) << mkfs;
    auto image = test::ReadFile(dir / "image.qni");
    image.resize(original->context().totalSectors() * 512);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), bytes.begin())) << mkfs;
  }
}

// An NTFS volume mounted with ntfs-3g (FUSE: its files carry a device number
// of their own) from its image file and from a loop device: an image written
// into that mount would overwrite the volume being imaged. The image's name
// has a blank, which the mount table writes escaped.
TEST(ImageVolumeTest, NeverImagesIntoAFileSystemStoredOnTheSource) {
  if (::geteuid() != 0 || !test::HaveTool("ntfs-3g") || !test::HaveTool("losetup")) {
    GTEST_SKIP() << "needs root, ntfs-3g and losetup";
  }
  TempDir dir;
  const std::string volume = (dir / "ntfs volume.img").string(), mnt = (dir / "mnt").string();
  std::filesystem::create_directory(mnt);
  test::MakeVolume(volume, 32 << 20, "mkntfs -F -q -Q");
  const auto attach = test::Run("losetup --find --show " + test::Quote(volume));
  if (attach.exitCode != 0) GTEST_SKIP() << "no loop devices here";
  const std::string device = attach.out.substr(0, attach.out.find('\n'));
  for (const std::string& source : {volume, device}) {
    if (test::Run("ntfs-3g " + test::Quote(source) + " " + test::Quote(mnt)).exitCode != 0) {
      test::Run("losetup -d " + device);
      GTEST_SKIP() << "cannot mount with ntfs-3g here";
    }
    const auto opened = Volume::Open(SourceKind::LogicalDrive, source).volume;
    ASSERT_TRUE(opened) << source;
    const ImageResult result = Image(*opened, mnt + "/image.qni");
    const bool written = std::filesystem::exists(mnt + "/image.qni");
    // Folders still to be made, named from inside the mount too.
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(mnt);
    EXPECT_TRUE(OutputOntoSource("not/made/yet", opened->identity(), source)) << source;
    std::filesystem::current_path(cwd);
    EXPECT_TRUE(OutputOntoSource(mnt + "/not/made", opened->identity(), source)) << source;
    test::Run("umount " + test::Quote(mnt));
    EXPECT_EQ(result.stop, Stop::OntoSource) << source;
    EXPECT_FALSE(written) << source;
  }
  test::Run("losetup -d " + device);
}

TEST(ImageFileNameTest, EnglishNamesWithFourLettersForSeptember) {
  std::tm day{};
  day.tm_year = 2026 - 1900, day.tm_mon = 8, day.tm_mday = 5, day.tm_wday = 6;
  EXPECT_EQ(ImageFileName(day), "QN_RSX_Image # Sat, 05-Sept-2026");
  day.tm_mon = 11, day.tm_mday = 25, day.tm_wday = 5;
  EXPECT_EQ(ImageFileName(day), "QN_RSX_Image # Fri, 25-Dec-2026");
}

}  // namespace
}  // namespace restorix
