// A FAT16 volume under 65,536 sectors as mkfs.fat and mtools make it: it is
// opened, and its deleted files are found and read back, also one whose
// attribute byte is 0.
#include <gtest/gtest.h>

#include <map>

#include "disk/volume.h"
#include "support/test_support.h"
#include "util/text.h"

namespace restorix {
namespace {

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 251);
  return bytes;
}

TEST(FatSmallVolumeTest, A16MiBFat16VolumeIsScanned) {
  for (const char* tool : {"mkfs.fat", "mcopy", "mattrib", "mdel"})
    if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
  test::TempDir dir;
  const auto image = dir / "small.img";
  const std::string i = " -i " + test::Quote(image.string()) + " ";
  test::MakeSparseFile(image, 16 << 20);
  test::RunOk("mkfs.fat -F 16 -n SMALL " + test::Quote(image.string()) + " >/dev/null");
  const auto plain = Pattern(5000, 1), bare = Pattern(3000, 2);
  test::WriteFile(dir / "plain", plain);
  test::WriteFile(dir / "bare", bare);
  const std::string env = "MTOOLS_SKIP_CHECK=1 ";
  test::RunOk(env + "mcopy" + i + test::Quote((dir / "plain").string()) + " '::/Plain file.bin'");
  test::RunOk(env + "mcopy" + i + test::Quote((dir / "bare").string()) + " ::/BARE.BIN");
  // Without the archive bit the attribute byte is 0: an ordinary file.
  test::RunOk(env + "mattrib" + i + "-a ::/BARE.BIN");
  test::RunOk(env + "mdel" + i + "'::/Plain file.bin' ::/BARE.BIN");

  const auto volume = Volume::Open(SourceKind::LogicalDrive, image).volume;
  ASSERT_TRUE(volume);
  EXPECT_EQ(volume->context().fsType(), FsType::Fat16);
  EXPECT_EQ(volume->context().totalSectors(), 32768u);
  const test::ScanRun scan = test::ScanVolume(*volume);
  ASSERT_TRUE(scan.completed);
  std::map<std::string, std::vector<std::uint8_t>> found;
  WalkTree(scan.tree.root(), [&](const ItemNode& node, int) {
    if (!node.isFolder()) found[Utf8FromUtf16(node.name)] = test::ReadItem(*volume, node);
  });
  const std::map<std::string, std::vector<std::uint8_t>> expected = {{"Plain file.bin", plain},
                                                                     {"XARE.BIN", bare}};
  EXPECT_TRUE(found == expected);
  for (const auto& [name, bytes] : found)
    EXPECT_TRUE(expected.contains(name)) << name;
}

}  // namespace
}  // namespace restorix
