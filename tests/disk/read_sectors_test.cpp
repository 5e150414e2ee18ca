// Opening sources and reading sectors: 64-bit offsets, read errors, lost
// devices, windows over a file, and sources that are not volumes at all.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <random>
#include <thread>

#include "disk/read_ahead.h"
#include "disk/volume.h"
#include "platform/file_io.h"
#include "signature/signature_file.h"
#include "support/fake_source.h"
#include "support/test_support.h"

namespace restorix {
namespace {

using test::FakeSource;
using test::Pattern;
using test::TempDir;
using Bytes8 = std::vector<std::uint8_t>;

TEST(ReadSectorsTest, ReachesSectorsBeyondTwoToTheThirtyTwo) {
  TempDir dir;
  const std::uint64_t sector = (std::uint64_t{1} << 32) + 3;
  test::MakeSparseFile(dir / "huge.img", (sector + 1) * 512);
  std::fstream(dir / "huge.img", std::ios::in | std::ios::out | std::ios::binary)
          .seekp(static_cast<std::streamoff>(sector * 512))
      << "sector 2^32+3";
  const auto volume = Volume::Open(SourceKind::PhysicalDisk, dir / "huge.img").volume;
  ASSERT_TRUE(volume);
  EXPECT_EQ(volume->context().totalSectors(), sector + 1);
  Bytes8 buffer(512);
  EXPECT_EQ(volume->ReadSectors(buffer, sector), 0);
  EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 13), "sector 2^32+3");
}

// An ordinary read error costs only the bad sector; a lost device raises.
TEST(ReadSectorsTest, ReadErrors) {
  for (const int error : {EIO, ENODEV, ENXIO, ENOMEDIUM, 0}) {  // 0: gone after one more read
    auto fake = std::make_shared<FakeSource>(Pattern(64));
    if (error) fake->FailRange(12 * 512, 512, error);
    if (!error) fake->LoseAfter(1);
    const auto volume = Volume::Open(SourceKind::PhysicalDisk, fake, u"fake").volume;
    ASSERT_TRUE(volume);
    Bytes8 buffer(8 * 512, 0xEE);
    EXPECT_EQ(volume->ReadSectors(buffer, 0), 0);
    if (error != EIO) {
      EXPECT_THROW(volume->ReadSectors(buffer, 8), DeviceLostError) << std::strerror(error);
      continue;
    }
    EXPECT_EQ(volume->ReadSectors(buffer, 8), EIO);
    Bytes8 expected = Pattern(8, 8);
    std::fill_n(expected.begin() + 4 * 512, 512, 0);
    EXPECT_EQ(buffer, expected);
    EXPECT_EQ(volume->ReadSectors(buffer, 60), 0);  // half past the end: zeros
    EXPECT_EQ(Bytes8(buffer.begin() + 4 * 512, buffer.end()), Bytes8(4 * 512, 0));
    EXPECT_EQ(volume->ReadSectors(buffer, ~std::uint64_t{0}), EOVERFLOW);
  }
}

// Whatever the buffer held before, bytes past the end of a file or of a
// window over it read as zeros.
TEST(ReadSectorsTest, AWindowNeverShowsBytesBeyondItsEnd) {
  TempDir dir;
  test::WriteFile(dir / "disk.img", Pattern(16));
  auto opened = FileSource::Open(dir / "disk.img");
  ASSERT_TRUE(opened.source);
  auto window = FileSource::Open(dir / "disk.img");
  ASSERT_TRUE(window.source);
  window.source->Narrow(4 * 512, 2 * 512);
  EXPECT_EQ(window.source->size(), 2u * 512);
  // source, first sector read, sectors of it that exist (the rest are zeros)
  const std::tuple<FileSource*, std::uint64_t, std::size_t, std::size_t> cases[] = {
      {window.source.get(), 0, 2, 4},   {window.source.get(), 1, 1, 5},
      {window.source.get(), 2, 0, 0},   {window.source.get(), 9, 0, 0},
      {opened.source.get(), 14, 2, 14}, {opened.source.get(), 16, 0, 0}};
  for (const auto& [source, sector, present, first] : cases) {
    Bytes8 buffer(3 * 512, 0xEE);
    EXPECT_EQ(source->ReadAt(buffer, sector * 512), 0);
    Bytes8 expected = Pattern(present, first);
    expected.resize(3 * 512, 0);
    EXPECT_EQ(buffer, expected) << "sector " << sector << " of " << source->size() / 512;
  }
}

// Anything that is not a volume fails to open with a reason, unchanged (the
// command-line tests cover missing files, folders and empty files).
TEST(OpenSourceTest, SourcesThatAreNotVolumes) {
  TempDir dir;
  std::independent_bits_engine<std::mt19937, 8, unsigned> random(12345);
  Bytes8 noise(1 << 20);
  std::generate(noise.begin(), noise.end(), [&] { return static_cast<std::uint8_t>(random()); });
  noise[0] = 0xEB, noise[1] = 0x52, noise[2] = 0x90;  // even the jump bytes look right
  for (const Bytes8& bytes : {noise, Bytes8(300, 0xEB)}) {
    test::WriteFile(dir / "source", bytes);
    const OpenResult result = Volume::Open(SourceKind::LogicalDrive, dir / "source");
    EXPECT_EQ(std::tie(result.failure, result.error), std::tuple(OpenFailure::NotRecognised, 0));
    EXPECT_FALSE(result.volume);
    EXPECT_EQ(test::ReadFile(dir / "source"), bytes);
  }
}

TEST(SignatureFileTest, ReadFromTheFolderGivenOrNotAtAll) {
  TempDir dir;
  EXPECT_FALSE(LoadSignatureFile(dir.path()));
  test::WriteFile(dir / "Signature", Bytes8(848, 0));
  const auto records = LoadSignatureFile(dir.path());
  ASSERT_TRUE(records);
  EXPECT_EQ(records->size(), 1u);
}

// Reading ahead hands every piece over in order with the bytes and error a
// plain read gives, however far the helper runs ahead of a slow consumer, and
// stops where the consumer stops or the device goes.
TEST(ReadAheadTest, PiecesInOrderUntilTheEndAStopOrALostDevice) {
  enum End { kAll, kStop, kLost };
  constexpr std::uint64_t kSectors = 600;
  for (const End end : {kAll, kStop, kLost}) {
    for (const unsigned depth : {2u, 3u, 16u}) {
      auto source = std::make_shared<FakeSource>(Pattern(kSectors));
      source->FailRange(100 * 512 + 3, 1, EIO);
      const auto volume = Volume::Open(SourceKind::PhysicalDisk, source, u"fake").volume;
      ASSERT_TRUE(volume);
      if (end == kLost) source->LoseAfter(source->reads() + 250);
      StopToken stop;
      // Pieces of 1 to 3 sectors, tagged with their number.
      std::uint64_t sector = 0, planned = 0;
      const auto plan = [&]() -> std::optional<ReadAhead::Piece> {
        if (sector >= kSectors) return std::nullopt;
        const ReadAhead::Piece piece{sector, 512 * (1 + planned % 3), planned};
        sector += 1 + planned++ % 3;
        return piece;
      };
      std::uint64_t taken = 0, at = 0;
      bool lost = false;
      try {
        ReadAhead ahead(*volume, stop, plan, 3 * 512, depth);
        while (const auto read = ahead.Next()) {
          ASSERT_EQ(read->piece.tag, taken) << depth;
          ASSERT_EQ(read->piece.sector, at);
          const std::size_t sectors = 1 + taken % 3;
          Bytes8 expected = Pattern(std::min<std::uint64_t>(sectors, kSectors - at), at);
          expected.resize(sectors * 512);
          const bool bad = at <= 100 && 100 < at + sectors;
          if (bad) std::fill_n(expected.begin() + 512 * (100 - at), 512, 0);
          ASSERT_EQ(read->error, bad ? EIO : 0);
          ASSERT_TRUE(
              std::equal(read->bytes.begin(), read->bytes.end(), expected.begin(), expected.end()));
          at += sectors;
          ++taken;
          if (taken % 7 == 0) std::this_thread::yield();
          if (end == kStop && taken == 40) stop.RequestStop();
          if (end == kStop && taken > 40 + depth) FAIL() << "read on after the stop";
        }
      } catch (const DeviceLostError&) {
        lost = true;
      }
      EXPECT_EQ(lost, end == kLost);
      if (end == kAll) {
        EXPECT_EQ(at, kSectors);
      } else if (end == kLost) {
        // Every piece read before the device went is handed over; the bad
        // piece took up to three more reads (its sectors one by one).
        EXPECT_GE(taken, 247u);
        EXPECT_LE(taken, 250u);
      }
    }
  }
}

// A loop device, where the machine allows one: size and logical sector size
// come from the device itself.
TEST(OpenSourceTest, BlockDeviceGeometry) {
  if (::geteuid() != 0 || !test::HaveTool("losetup")) GTEST_SKIP() << "needs root and losetup";
  TempDir dir;
  test::MakeSparseFile(dir / "backing", 8 << 20);
  for (const int sectorSize : {512, 4096}) {
    const auto attach =
        test::Run("losetup --find --show --sector-size " + std::to_string(sectorSize) + " " +
                  test::Quote((dir / "backing").string()));
    if (attach.exitCode != 0) GTEST_SKIP() << "no loop devices here: " << attach.err;
    const std::string device = attach.out.substr(0, attach.out.find('\n'));
    const OpenResult result = Volume::Open(SourceKind::PhysicalDisk, device);
    test::Run("losetup -d " + device);
    ASSERT_TRUE(result) << device;
    EXPECT_EQ(result.volume->context().bytesPerSector(), sectorSize);
    EXPECT_EQ(result.volume->context().totalSectors(), (8u << 20) / sectorSize);
    EXPECT_EQ(result.volume->identity().kind, SourceIdentity::Kind::BlockDevice);
  }
}

// On a block device, single sectors read past the page cache (O_DIRECT)
// give the device's bytes, at any sector, also through a window that starts
// at an odd sector; reads past the end are zeros.
TEST(OpenSourceTest, UncachedReadsOfABlockDevice) {
  if (::geteuid() != 0 || !test::HaveTool("losetup")) GTEST_SKIP() << "needs root and losetup";
  TempDir dir;
  const auto bytes = test::Pattern(2048);
  test::WriteFile(dir / "backing", bytes);
  const auto attach = test::Run("losetup --find --show " + test::Quote((dir / "backing").string()));
  if (attach.exitCode != 0) GTEST_SKIP() << "no loop devices here: " << attach.err;
  const std::string device = attach.out.substr(0, attach.out.find('\n'));
  auto opened = FileSource::Open(device);
  test::Run("losetup -d " + device);  // the open descriptor keeps the device
  ASSERT_TRUE(opened.source) << std::strerror(opened.error);
  FileSource& source = *opened.source;
  std::vector<std::uint8_t> sector(512), expected(512);
  for (const std::uint64_t at : {0u, 1u, 7u, 8u, 1000u, 2047u}) {
    ASSERT_EQ(source.ReadUncached(sector, at * 512), 0) << at;
    EXPECT_TRUE(std::equal(sector.begin(), sector.end(), bytes.begin() + at * 512)) << at;
  }
  source.Narrow(3 * 512, 100 * 512);
  std::vector<std::uint8_t> two(1024);
  ASSERT_EQ(source.ReadUncached(two, 0), 0);
  EXPECT_TRUE(std::equal(two.begin(), two.end(), bytes.begin() + 3 * 512));
  ASSERT_EQ(source.ReadUncached(two, 99 * 512), 0);
  EXPECT_TRUE(std::equal(two.begin(), two.begin() + 512, bytes.begin() + 102 * 512));
  EXPECT_TRUE(std::all_of(two.begin() + 512, two.end(), [](std::uint8_t b) { return b == 0; }));
}

// A block device the program may not open itself goes to the device opener
// (the desktop program's udisks2); an unreadable file does not. Runs the
// opening as an unprivileged user in a child process.
TEST(OpenSourceTest, ADeviceThatMayNotBeOpenedGoesToTheDeviceOpener) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a device node and drop to nobody";
  TempDir dir;
  std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
  const auto device = dir / "disk";
  if (::mknod(device.c_str(), S_IFBLK | 0600, makedev(7, 0)) != 0)
    GTEST_SKIP() << "no device nodes here: " << std::strerror(errno);
  const auto file = dir / "secret.img";
  std::ofstream(file) << "x";
  std::filesystem::permissions(file, std::filesystem::perms::none);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(10);
    std::vector<std::filesystem::path> asked;
    SetDeviceOpener([&asked](const std::filesystem::path& path, int& error) {
      asked.push_back(path);
      const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
      if (fd < 0) error = errno;
      return fd;
    });
    int error = 0;
    const bool deviceOpened = static_cast<bool>(OpenReadOnly(device, error));
    const bool fileRefused = !OpenReadOnly(file, error) && error == EACCES;
    SetDeviceOpener(nullptr);
    const bool withoutOpener = !OpenReadOnly(device, error) && error == EACCES;
    ::_exit(deviceOpened && fileRefused && withoutOpener && asked == std::vector{device} ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace restorix
