// The JSON document is written by hand for speed; names come from damaged or
// hostile disks, so every name must still come back exactly from a parser.
#include "tree_output.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <tuple>

#include "util/text.h"

namespace restorix {
namespace {

TEST(TreeOutputTest, AnyNameSurvivesTheJsonDocument) {
  const std::u16string names[] = {u"quote\"back\\slash", u"tab\tline\nbell\x07\x1f end",
                                  u"R\u00e9sum\u00e9 \u65e5\u672c.txt", u"", u"\x7f\u2028"};
  ItemTree tree;
  ItemNode* root = tree.NewRoot();
  ItemNode* folder = tree.FolderIn(root, u"folder \"one\"");
  ItemNode* previous = nullptr;
  for (const std::u16string& name : names) {
    ItemNode* file = tree.NewNode();
    file->name = name;
    file->size = 1;
    tree.AddChildAfter(folder, previous, file);
    previous = file;
  }

  std::ostringstream out;
  const std::u16string source = u"disk";
  cli::WriteScanJson(out, {source, FsType::Ntfs, root}, "deleted", true);
  const auto json = nlohmann::json::parse(out.str());
  ASSERT_EQ(json["items"].size(), 1 + std::size(names));
  EXPECT_EQ(json["items"][0]["name"], "folder \"one\"");
  for (std::size_t i = 0; i < std::size(names); ++i) {
    const auto& item = json["items"][i + 1];
    EXPECT_EQ(item["name"], Utf8FromUtf16(names[i])) << i;
    EXPECT_EQ(item["path"], "folder \"one\"/" + Utf8FromUtf16(names[i])) << i;
  }
}

// Where a size was cut, the listing says so: the item's claim beside its
// size, and the volume's claimed sectors beside those its source holds.
TEST(TreeOutputTest, CutSizesAreShownWithTheirClaims) {
  ItemTree tree;
  ItemNode* root = tree.NewRoot();
  for (const auto& [name, size, claimed] :
       {std::tuple{u"cut.bin", 8192ull, 1ull << 48}, std::tuple{u"whole.bin", 100ull, 0ull}}) {
    ItemNode* file = tree.NewNode();
    file->name = name;
    file->size = size;
    file->claimedSize = claimed;
    tree.AddChild(root, file);
  }
  const std::u16string source = u"disk";
  const cli::ScanView cut{source, FsType::Ntfs, root, 16384, 1ull << 63};
  std::ostringstream out;
  cli::WriteScanJson(out, cut, "deleted", true);
  const auto json = nlohmann::json::parse(out.str());
  EXPECT_EQ(json["volumeCut"]["claimedSectors"], 1ull << 63);
  EXPECT_EQ(json["volumeCut"]["sectors"], 16384);
  EXPECT_EQ(json["items"][0]["name"], "whole.bin");
  EXPECT_FALSE(json["items"][0].contains("claimedSize"));
  EXPECT_EQ(json["items"][1]["size"], 8192);
  EXPECT_EQ(json["items"][1]["claimedSize"], 1ull << 48);

  testing::internal::CaptureStdout();
  cli::PrintTree(cut);
  const std::string text = testing::internal::GetCapturedStdout();
  EXPECT_NE(text.find("note: the boot sector claims 9223372036854775808 sectors; the source holds "
                      "16384"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("cut.bin  8192 bytes (cut: the disk claims 281474976710656)"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("whole.bin  100 bytes  ["), std::string::npos) << text;

  std::ostringstream whole;
  cli::WriteScanJson(whole, {source, FsType::Ntfs, root, 16384, 16384}, "deleted", true);
  EXPECT_FALSE(nlohmann::json::parse(whole.str()).contains("volumeCut"));
}

TEST(TreeOutputTest, NamesReachTheTerminalWithoutControlCharacters) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain R\u00e9sum\u00e9.txt", "plain R\u00e9sum\u00e9.txt"},
      {"\x1b[2Jwiped", "\\x1b[2Jwiped"},
      {"two\nlines\r\t", "two\\x0alines\\x0d\\x09"},
      {"del\x7f", "del\\x7f"}};
  for (const auto& [name, shown] : cases)
    EXPECT_EQ(cli::Printable(name), shown);
}

}  // namespace
}  // namespace restorix
