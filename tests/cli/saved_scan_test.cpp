// `recover --scan` against another volume, or after the volume changed: the
// other volume is refused with a reason, a changed file is named instead of
// written, and neither ends in exit status 0.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/test_support.h"

namespace restorix {
namespace {

namespace fs = std::filesystem;
using test::Quote;

test::CommandResult Restorix(const std::string& arguments) {
  return test::Run(Quote(test::RestorixBinary().string()) + " " + arguments);
}

// A FAT16 volume with two files written and deleted by mtools.
void MakeVolume(const fs::path& image, const std::string& serial, const test::TempDir& dir) {
  test::MakeSparseFile(image, 16 << 20);
  test::RunOk("mkfs.fat -F 16 -i " + serial + " " + Quote(image.string()) + " >/dev/null");
  const std::string mtools = "MTOOLS_SKIP_CHECK=1 ";
  test::WriteFile(dir / "first", std::vector<std::uint8_t>(5000, 'a'));
  test::WriteFile(dir / "second", std::vector<std::uint8_t>(3000, 'b'));
  const std::string i = " -i " + Quote(image.string()) + " ";
  test::RunOk(mtools + "mcopy" + i + Quote((dir / "first").string()) + " '::/First file.txt'");
  test::RunOk(mtools + "mcopy" + i + Quote((dir / "second").string()) + " '::/Second file.txt'");
  test::RunOk(mtools + "mdel" + i + "'::/First file.txt' '::/Second file.txt'");
}

TEST(CliSavedScanTest, AnotherVolumeIsRefusedAndChangedFilesAreNamed) {
  for (const char* tool : {"mkfs.fat", "mcopy", "mdel"})
    if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
  test::TempDir dir;
  const fs::path scanned = dir / "scanned.img", other = dir / "other.img", out = dir / "out";
  MakeVolume(scanned, "11111111", dir);
  MakeVolume(other, "22222222", dir);
  const std::string qns = Quote((dir / "scan.qns").string());
  ASSERT_EQ(Restorix("scan " + Quote(scanned.string()) + " --save-scan " + qns).exitCode, 0);

  const auto refused = Restorix("recover --scan " + qns + " --source " + Quote(other.string()) +
                                " --to " + Quote(out.string()));
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("is not the volume the scan was made of"), std::string::npos)
      << refused.err;
  EXPECT_FALSE(fs::exists(out));

  // The new file takes the first deleted file's entries and clusters.
  test::WriteFile(dir / "new", std::vector<std::uint8_t>(4000, 'n'));
  test::RunOk("MTOOLS_SKIP_CHECK=1 mcopy -i " + Quote(scanned.string()) + " " +
              Quote((dir / "new").string()) + " ::/new.bin");
  const auto text = Restorix("recover --scan " + qns + " --to " + Quote(out.string()));
  EXPECT_EQ(text.exitCode, 1);
  EXPECT_NE(text.out.find("not written (changed on the source since the scan): First file.txt"),
            std::string::npos)
      << text.out;
  EXPECT_EQ(test::ReadFile(out / "#" / "Second file.txt"), std::vector<std::uint8_t>(3000, 'b'));
  EXPECT_FALSE(fs::exists(out / "#" / "First file.txt"));

  const auto json = Restorix("recover --scan " + qns + " --to " + Quote(out.string()) + " --json");
  EXPECT_EQ(json.exitCode, 1);
  const auto report = nlohmann::json::parse(json.out);
  EXPECT_EQ(report["changed"], nlohmann::json::array({"First file.txt"}));
  EXPECT_EQ(report["files"], 1);
}

}  // namespace
}  // namespace restorix
