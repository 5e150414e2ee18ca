// Opening sources and reading sectors: 64-bit offsets, read errors, lost
// devices, windows over a file, and sources that are not volumes at all.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine.h"
#include "support/fake_source.h"
#include "support/test_support.h"

namespace restorix {
namespace {

using test::FakeSource;
using test::TempDir;

std::vector<std::uint8_t> Pattern(std::size_t n) {
  std::vector<std::uint8_t> bytes(n);
  for (std::size_t i = 0; i < n; ++i)
    bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 512);
  return bytes;
}

// A whole-disk source over memory, 512-byte sectors.
Engine& OpenFake(Engine& engine, std::unique_ptr<FakeSource> source) {
  EXPECT_TRUE(engine.OpenSource(SOURCE_PHYSICAL_DISK, std::move(source), u"fake"));
  return engine;
}

TEST(ReadSectorsTest, ReachesSectorsBeyondTwoToTheThirtyTwo) {
  TempDir dir;
  const auto path = dir / "huge.img";
  const std::uint64_t sector = (std::uint64_t{1} << 32) + 3;
  test::MakeSparseFile(path, (sector + 1) * 512);
  {
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    const char marker[] = "sector 2^32+3";
    ASSERT_EQ(::pwrite(fd, marker, sizeof marker, static_cast<off_t>(sector * 512)),
              static_cast<ssize_t>(sizeof marker));
    ::close(fd);
  }
  Engine engine;
  ASSERT_TRUE(engine.OpenSource(SOURCE_PHYSICAL_DISK, path));
  EXPECT_EQ(engine.context.fsType(), FS_NONE);
  EXPECT_EQ(engine.context.bytesPerSector(), 512);
  EXPECT_EQ(engine.context.totalSectors(), sector + 1);

  std::vector<std::uint8_t> buffer(512);
  EXPECT_EQ(engine.ReadSectors(buffer, sector), 0);
  EXPECT_STREQ(reinterpret_cast<const char*>(buffer.data()), "sector 2^32+3");
  // The sector that a 32-bit product would have wrapped to holds nothing.
  std::fill(buffer.begin(), buffer.end(), 0xEE);
  EXPECT_EQ(engine.ReadSectors(buffer, 3), 0);
  EXPECT_EQ(buffer, std::vector<std::uint8_t>(512, 0));
}

TEST(ReadSectorsTest, OrdinaryReadErrorLeavesTheClearedBufferAndReturnsTheCode) {
  auto source = std::make_unique<FakeSource>(Pattern(64 * 512));
  source->FailRange(10 * 512, 512, EIO);
  Engine engine;
  OpenFake(engine, std::move(source));
  std::vector<std::uint8_t> buffer(512, 0);
  EXPECT_EQ(engine.ReadSectors(buffer, 10), EIO);
  EXPECT_EQ(buffer, std::vector<std::uint8_t>(512, 0));
}

TEST(ReadSectorsTest, ABadSectorInsideALongReadCostsOnlyThatSector) {
  const auto bytes = Pattern(64 * 512);
  auto source = std::make_unique<FakeSource>(bytes);
  source->FailRange(12 * 512, 512, EIO);
  Engine engine;
  OpenFake(engine, std::move(source));
  std::vector<std::uint8_t> buffer(8 * 512, 0);
  EXPECT_EQ(engine.ReadSectors(buffer, 8), EIO);
  for (int s = 0; s < 8; ++s) {
    const auto got =
        std::vector<std::uint8_t>(buffer.begin() + s * 512, buffer.begin() + (s + 1) * 512);
    if (s == 4) {
      EXPECT_EQ(got, std::vector<std::uint8_t>(512, 0)) << "the bad sector reads as zeros";
    } else {
      EXPECT_EQ(got, std::vector<std::uint8_t>(bytes.begin() + (8 + s) * 512,
                                               bytes.begin() + (9 + s) * 512))
          << "sector " << 8 + s;
    }
  }
}

TEST(ReadSectorsTest, LostDeviceRaises) {
  for (const int error : {ENODEV, ENXIO, ENOMEDIUM}) {
    auto source = std::make_unique<FakeSource>(Pattern(8 * 512));
    source->FailRange(0, 8 * 512, error);
    Engine engine;
    OpenFake(engine, std::move(source));
    std::vector<std::uint8_t> buffer(512);
    EXPECT_THROW(engine.ReadSectors(buffer, 1), DeviceLostError) << std::strerror(error);
  }
  auto source = std::make_unique<FakeSource>(Pattern(8 * 512));
  source->LoseAfter(1);
  Engine engine;
  OpenFake(engine, std::move(source));
  std::vector<std::uint8_t> buffer(512);
  EXPECT_EQ(engine.ReadSectors(buffer, 0), 0);
  EXPECT_THROW(engine.ReadSectors(buffer, 1), DeviceLostError);
}

TEST(ReadSectorsTest, ReadsPastTheEndLeaveZerosAndOverflowIsRefused) {
  Engine engine;
  OpenFake(engine, std::make_unique<FakeSource>(Pattern(4 * 512)));
  std::vector<std::uint8_t> buffer(2 * 512, 0);
  EXPECT_EQ(engine.ReadSectors(buffer, 3), 0);
  EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin() + 512, buffer.end()),
            std::vector<std::uint8_t>(512, 0));
  EXPECT_EQ(engine.ReadSectors(buffer, ~std::uint64_t{0}), EOVERFLOW);
}

TEST(ReadSectorsTest, AWindowNeverShowsBytesBeyondItsEnd) {
  TempDir dir;
  const auto path = dir / "disk.img";
  test::WriteFile(path, Pattern(16 * 512));
  auto opened = FileSource::Open(path);
  ASSERT_TRUE(opened.source);
  opened.source->Narrow(4 * 512, 2 * 512);
  EXPECT_EQ(opened.source->size(), 2u * 512);
  std::vector<std::uint8_t> buffer(3 * 512, 0);
  EXPECT_EQ(opened.source->ReadAt(buffer, 0), 0);
  const auto all = Pattern(16 * 512);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 1024, all.begin() + 4 * 512));
  EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin() + 1024, buffer.end()),
            std::vector<std::uint8_t>(512, 0));
}

// Anything that is not a volume fails to open with a reason, and nothing is
// written to it.
TEST(OpenSourceTest, SourcesThatAreNotVolumes) {
  TempDir dir;
  test::WriteFile(dir / "empty", {});
  test::WriteFile(dir / "short", std::vector<std::uint8_t>(300, 0xEB));
  std::vector<std::uint8_t> noise(1 << 20);
  std::uint32_t x = 12345;
  for (auto& b : noise)
    b = static_cast<std::uint8_t>((x = x * 1103515245 + 12345) >> 16);
  noise[0] = 0xEB, noise[1] = 0x52, noise[2] = 0x90;  // even the jump bytes look right
  test::WriteFile(dir / "noise", noise);
  std::filesystem::create_directory(dir / "folder");

  struct Case {
    std::string name;
    OpenFailure failure;
    int error;
  };
  const Case cases[] = {
      {"missing", OpenFailure::CannotOpen, ENOENT}, {"folder", OpenFailure::CannotOpen, EISDIR},
      {"empty", OpenFailure::NotRecognised, 0},     {"short", OpenFailure::NotRecognised, 0},
      {"noise", OpenFailure::NotRecognised, 0},
  };
  for (const Case& c : cases) {
    const auto path = dir / c.name;
    const auto before = std::filesystem::exists(path) && !std::filesystem::is_directory(path)
                            ? test::ReadFile(path)
                            : std::vector<std::uint8_t>{};
    Engine engine;
    const OpenResult result = engine.OpenSource(SOURCE_LOGICAL_DRIVE, path);
    EXPECT_EQ(result.failure, c.failure) << c.name;
    EXPECT_EQ(result.error, c.error) << c.name;
    EXPECT_FALSE(engine.source) << c.name;
    if (!before.empty()) {
      EXPECT_EQ(test::ReadFile(path), before) << c.name;
    }
  }
}

TEST(OpenSourceTest, ResetEngineForgetsAllButTheSourceName) {
  TempDir dir;
  test::MakeSparseFile(dir / "disk", 1 << 20);
  Engine engine;
  ASSERT_TRUE(engine.OpenSource(SOURCE_PHYSICAL_DISK, dir / "disk"));
  engine.treeRoot = MakeRootNode(5);
  engine.ResetEngine();
  EXPECT_EQ(engine.context.bytes(), VolumeContext{}.bytes());
  EXPECT_EQ(engine.treeRoot, nullptr);
  EXPECT_EQ(engine.sourceName, (dir / "disk").u16string());
  std::vector<std::uint8_t> buffer(512);
  EXPECT_EQ(engine.ReadSectors(buffer, 0), EBADF);
}

TEST(OpenSourceTest, SignatureFileBesideTheProgram) {
  TempDir dir;
  Engine engine;
  EXPECT_FALSE(engine.OpenSignatureFile(dir.path()));
  test::WriteFile(dir / "Signature", std::vector<std::uint8_t>(848, 0));
  EXPECT_TRUE(engine.OpenSignatureFile(dir.path()));
  EXPECT_TRUE(engine.signatureFile);
  engine.ResetEngine();
  EXPECT_FALSE(engine.signatureFile);
}

// A real block device, where the machine lets us make a loop device: size and
// logical sector size come from the device itself.
TEST(OpenSourceTest, BlockDeviceGeometry) {
  if (::geteuid() != 0 || !test::HaveTool("losetup")) GTEST_SKIP() << "needs root and losetup";
  TempDir dir;
  const auto path = dir / "backing";
  test::MakeSparseFile(path, 8 << 20);
  for (const int sectorSize : {512, 4096}) {
    const auto attach = test::Run("losetup --find --show --sector-size " +
                                  std::to_string(sectorSize) + " " + test::Quote(path.string()));
    if (attach.exitCode != 0) GTEST_SKIP() << "no loop devices here: " << attach.err;
    const std::string device = attach.out.substr(0, attach.out.find('\n'));
    Engine engine;
    const OpenResult result = engine.OpenSource(SOURCE_PHYSICAL_DISK, device);
    test::Run("losetup -d " + device);
    ASSERT_TRUE(result) << device;
    EXPECT_EQ(engine.context.bytesPerSector(), sectorSize);
    EXPECT_EQ(engine.context.totalSectors(), (8u << 20) / sectorSize);
    EXPECT_TRUE(engine.source->identity().blockDevice);
  }
}

}  // namespace
}  // namespace restorix
