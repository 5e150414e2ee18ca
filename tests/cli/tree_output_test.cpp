// The JSON document is written by hand for speed; names come from damaged or
// hostile disks, so every name must still come back exactly from a parser.
#include "tree_output.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

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

TEST(TreeOutputTest, NamesReachTheTerminalWithoutControlCharacters) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain R\u00e9sum\u00e9.txt", "plain R\u00e9sum\u00e9.txt"},
      {"\x1b[2Jwiped", "\\x1b[2Jwiped"},
      {"two\nlines\r\t", "two\\x0alines\\x0d\\x09"},
      {"del\x7f", "del\\x7f"},
      {"csi\xC2\x9B"
       "2J",
       "csi\\u009b2J"},
      {"invoice\xE2\x80\xAE"
       "fdp.exe",
       "invoice\\u202efdp.exe"},
      {"iso\xE2\x81\xA6late\xE2\x81\xA9", "iso\\u2066late\\u2069"},
      {"\xC2\xA0no-break \xE2\x80\x94 dash", "\xC2\xA0no-break \xE2\x80\x94 dash"}};
  for (const auto& [name, shown] : cases)
    EXPECT_EQ(cli::Printable(name), shown);
}

}  // namespace
}  // namespace restorix
