// Imaging a volume into a file: block rounding, cancellation, lost sources,
// failed writes, and an image that opens exactly like its volume.
#include "disk/imaging.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include "disk/volume.h"
#include "platform/file_io.h"
#include "platform/storage.h"
#include "support/fake_source.h"
#include "support/test_support.h"
#include "task.h"

namespace restorix {
namespace {

using test::TempDir;
using Bytes8 = std::vector<std::uint8_t>;
using Stop = ImageResult::Stop;

Bytes8 Pattern(std::size_t sectors) {
  Bytes8 bytes(sectors * 512);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<std::uint8_t>(i / 512 + i);
  return bytes;
}

// Images the volume as the imaging task does: a lost source or output ends
// the copy with the side that was lost.
ImageResult Image(const Volume& volume, const std::filesystem::path& path, const StopToken& stop,
                  TaskEvents& events) {
  ImageResult result;
  try {
    ImageVolume(volume, path, {stop, events}, result);
  } catch (const DeviceLostError& lost) {
    result.stop =
        lost.side() == DeviceLostError::Side::Source ? Stop::SourceLost : Stop::WriteFailed;
    result.error = lost.error();
  }
  return result;
}
ImageResult Image(const Volume& volume, const std::filesystem::path& path) {
  TaskEvents none;
  return Image(volume, path, StopToken{}, none);
}

// A volume of `sectors` sectors in memory, opened and ready to image.
struct MemoryVolume : TaskEvents {
  std::shared_ptr<test::FakeSource> source;
  std::shared_ptr<const Volume> volume;
  StopToken stop;
  bool stopOnProgress = false;
  explicit MemoryVolume(std::size_t sectors)
      : source(std::make_shared<test::FakeSource>(Pattern(sectors))),
        volume(Volume::Open(SourceKind::PhysicalDisk, source, u"volume").volume) {}
  void ScanProgress(std::uint64_t, std::uint64_t) override {
    if (stopOnProgress) stop.RequestStop();
  }
};

// A completed image is the volume rounded up to whole blocks of 63 sectors,
// an unreadable sector left as zeros. A stop, a lost source, a full disk (a
// file-size limit stands in for it) or a path that cannot take an image is
// never reported as completed.
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
      {None, 10, 0, "/dev/null", Stop::NotAFile, 0},
      {None, 10, 0, "/tmp", Stop::NotAFile, 0},
      {None, 10, 0, "/nonexistent-folder/out.qni", Stop::CannotCreate, ENOENT}};
  ::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  rlimit limited = old;
  limited.rlim_cur = 100 * 512;
  for (const auto& [fault, sectors, imageSectors, name, stop, error] : cases) {
    TempDir dir;
    MemoryVolume v(sectors);
    v.stopOnProgress = fault == Cancel;
    if (fault == BadSector70) v.source->FailRange(70 * 512, 512, EIO);
    if (fault == Lose) v.source->LoseAfter(v.source->reads() + 1);
    if (fault == FileSizeLimit) ::setrlimit(RLIMIT_FSIZE, &limited);
    const ImageResult result = Image(*v.volume, dir / name, v.stop, v);
    ::setrlimit(RLIMIT_FSIZE, &old);
    SCOPED_TRACE(std::to_string(fault) + " " + std::to_string(sectors) + " " + name);
    EXPECT_EQ(result.completed(), stop == Stop::None);
    EXPECT_EQ(result.stop, stop);
    EXPECT_EQ(result.error, error);
    EXPECT_EQ(result.created, stop != Stop::NotAFile && stop != Stop::CannotCreate);
    EXPECT_EQ(v.stop.running(), fault != Cancel);
    if (stop == Stop::None) {
      auto expected = Pattern(sectors);
      if (fault == BadSector70) std::fill_n(expected.begin() + 70 * 512, 512, 0);
      expected.resize(imageSectors * 512, 0);
      EXPECT_EQ(test::ReadFile(dir / name), expected);
    }
    if (fault == Cancel) {  // whole blocks, short of the volume
      const auto written = std::filesystem::file_size(dir / name);
      EXPECT_GT(written, 0u);
      EXPECT_EQ(written % (63 * 512), 0u);
      EXPECT_EQ(written, result.sectorsWritten * 512);
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
    test::MakeSparseFile(volume, (48 << 20) + 5 * 512);  // not a whole number of blocks
    test::RunOk(mkfs + " " + test::Quote(volume.string()) + " >/dev/null 2>&1");
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
  test::MakeSparseFile(volume, 32 << 20);
  test::RunOk("mkntfs -F -q -Q " + test::Quote(volume) + " >/dev/null 2>&1");
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
