// Scan-information files: the layout, round trips, reopening the source, bad files.
#include "catalogue/scan_info.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/test_support.h"

namespace restorix {
namespace {

using test::TempDir;
using Bytes8 = std::vector<std::uint8_t>;

// A file written by hand, field by field, little-endian.
struct Hand {
  Bytes8 bytes;
  bool extents;                       // whether the file system stores them
  Hand& le(std::uint64_t v, int n) {  // the low n bytes of v
    for (; n > 0; --n, v >>= 8)
      bytes.push_back(v & 0xFF);
    return *this;
  }
  Hand& text(const std::u16string& s) {
    le(s.size(), 2);
    for (const char16_t c : s)
      le(c, 2);
    return *this;
  }
  explicit Hand(const std::u16string& source, std::uint8_t fsType = FS_NONE)
      : bytes{'T', 'A', 'F', '-'}, extents(fsType != FS_FAT32) {
    VolumeContext context;
    context.setFsType(fsType);
    context.setBytesPerSector(512);
    le(0x55AA, 4).text(source);
    bytes.insert(bytes.end(), context.bytes().begin(), context.bytes().end());
  }
  // Links: next sibling, first child, parent, extents.
  Hand& node(std::uint64_t size, const char* links, std::uint32_t id, std::uint32_t parentId,
             const std::u16string& name, std::uint8_t flags, bool checked, std::uint16_t date = 0) {
    le(size, 8).le(links[0] == 'N', 4).le(links[1] == 'C', 4).le(links[2] == 'P', 4);
    le(links[3] == 'E' && extents, 4).le(id, 4).le(parentId, 4).le(!name.empty(), 4);
    le(date, 2).le(date ? date + 1 : 0, 2).le(flags, 1).le(name.size(), 1).le(checked, 2);
    return text(name);
  }
  Hand& extent(std::uint64_t start, bool next, std::uint16_t length) {
    return extents ? le(start, 8).le(next, 4).le(length, 2) : *this;
  }
};

// The scan ".(D(a E(c)) b)": the root, its children block (D with a block of
// its own, then b), D's block (a, E), E's block (c).
Bytes8 Sample(std::uint8_t fsType = FS_NTFS) {
  return Hand(u"/images/disk.img", fsType)
      .node(0, "-C--", 5, 5, u".", 3, 1)
      .node(0, "NCP-", 40, 5, u"D", 2, 1, 0x5D85)
      .node(3, "--PE", 42, 5, u"b", 0, 0, 0x5D85)
      .extent(200, true, 0x40)
      .extent(300, false, 0x48)
      .node(12, "N-PE", 41, 40, u"a", 0, 1, 0x5D85)
      .extent(100, false, 0x38)
      .node(0, "-CP-", 43, 40, u"E", 2, 0, 0x5D85)
      .node(7, "--PE", 44, 43, u"c", 0, 1, 0x5D85)
      .extent(400, false, 0x50)
      .bytes;
}

// Loading a file written by hand pins the layout; saving gives its bytes back.
TEST(ScanInfoTest, AFileWrittenByHandLoadsAndSavesToTheSameBytes) {
  TempDir dir;
  Engine ntfs, fat;
  for (const auto& [fsType, engine] : {std::pair(FS_NTFS, &ntfs), std::pair(FS_FAT32, &fat)}) {
    test::WriteFile(dir / "hand.qns", Sample(fsType));
    const LoadResult result = LoadScanInfo(*engine, dir / "hand.qns");
    EXPECT_TRUE(result.loaded && !result.truncated && !engine->source) << "the source is not here";
    EXPECT_EQ(engine->sourceName, u"/images/disk.img");
    EXPECT_EQ(engine->context.fsType(), fsType) << "the stored geometry stays";
    EXPECT_EQ(test::Render(engine->treeRoot), ".(D(a E(c)) b)");
    std::ostringstream items;  // id/parent size flags+10*check dates extents
    WalkTree(engine->treeRoot, [&](const ItemNode& n, int) {
      items << n.id << '/' << n.parentId << ' ' << n.size << ' ' << n.flags + 10 * n.checked << ' '
            << n.createDate << '-' << n.accessDate;
      for (const Extent& e : n.extents)
        items << ' ' << e.start << ':' << e.length;
      items << ';';
    });
    EXPECT_EQ(items.str(),
              fsType == FS_FAT32
                  ? "40/5 0 12 23941-23942;41/40 12 10 23941-23942;43/40 0 2 23941-23942;"
                    "44/43 7 10 23941-23942;42/5 3 0 23941-23942;"
                  : "40/5 0 12 23941-23942;41/40 12 10 23941-23942 100:56;43/40 0 2 23941-23942;"
                    "44/43 7 10 23941-23942 400:80;42/5 3 0 23941-23942 200:64 300:72;");
    ASSERT_TRUE(SaveScanInfo(*engine, dir / "again.qns"));
    EXPECT_EQ(test::ReadFile(dir / "again.qns"), Sample(fsType));
  }
  ntfs.context.setFsType(FS_FAT32);  // FAT stores no extents, even for items that have some
  ASSERT_TRUE(SaveScanInfo(ntfs, dir / "fat.qns"));
  EXPECT_EQ(test::ReadFile(dir / "fat.qns"), Sample(FS_FAT32));
  Engine empty;
  empty.sourceName = u"E:";
  empty.treeRoot = MakeRootNode(5);
  ASSERT_TRUE(SaveScanInfo(empty, dir / "empty.qns"));
  EXPECT_EQ(std::filesystem::file_size(dir / "empty.qns"), 8u + 2 + 2 * 2 + 71 + 44 + 2 + 2);
}

TEST(ScanInfoTest, FileNames) {
  std::tm day{};
  day.tm_year = 126, day.tm_mon = 11, day.tm_mday = 5, day.tm_wday = 6;
  EXPECT_EQ(ScanInfoFileName(day), "QN_RSX_Scan_Info# Sat, 05-Dec-2026");
  for (const std::string name : {"scan.qns", "scan.QNS", "scan", "my.scan.txt"})
    EXPECT_EQ(WithScanInfoExtension(name), name == "scan.qns" ? name : name + ".qns");
}

TEST(ScanInfoTest, ReopensTheImageAndFindsAPartitionByItsGeometry) {
  TempDir dir;
  const auto disk = test::Fixture("demo-disk.img"), moved = dir / "moved.img";
  Engine engine, loaded, elsewhere;
  ASSERT_TRUE(engine.OpenSource(SOURCE_LOGICAL_DRIVE, disk, 2));
  engine.treeRoot = MakeRootNode(5);
  ASSERT_TRUE(SaveScanInfo(engine, dir / "scan.qns"));
  ASSERT_TRUE(LoadScanInfo(loaded, dir / "scan.qns").reopened);
  EXPECT_EQ(loaded.context, engine.context);
  EXPECT_EQ(loaded.source->size(), engine.source->size()) << "partition 2, not the whole disk";
  std::filesystem::copy_file(disk, moved);  // given elsewhere instead
  EXPECT_TRUE(LoadScanInfo(elsewhere, dir / "scan.qns", moved).reopened);
  EXPECT_EQ(elsewhere.sourceName, moved.u16string());
}

TEST(ScanInfoTest, BadFilesLoadWithoutHarmBoundedByTheFile) {
  TempDir dir;
  test::WriteFile(dir / "text.qns", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'});
  test::WriteFile(dir / "version.qns", {'T', 'A', 'F', '-', 0xAB, 0x55, 0, 0});
  for (const char* name : {"text.qns", "version.qns", "missing.qns"}) {
    Engine engine;
    EXPECT_FALSE(LoadScanInfo(engine, dir / name).loaded) << name;
  }
  // Every prefix of a good file loads and keeps what it holds.
  const Bytes8 good = Sample();
  std::size_t before = 0;
  for (auto end = good.begin() + 8; end < good.end(); ++end) {
    test::WriteFile(dir / "cut.qns", Bytes8(good.begin(), end));
    Engine cut;
    const LoadResult result = LoadScanInfo(cut, dir / "cut.qns");
    ASSERT_TRUE(result.loaded && result.truncated) << end - good.begin();
    std::size_t items = 0;
    WalkTree(cut.treeRoot, [&](const ItemNode&, int) { ++items; });
    EXPECT_TRUE(items >= before && items <= 5) << "a longer prefix never loses items";
    before = items;
  }
  // A source name past the end; extents that say another follows until the
  // file ends (a raw-disk scan stores them); a million folders, each in the last.
  test::WriteFile(dir / "name.qns", {'T', 'A', 'F', '-', 0xAA, 0x55, 0, 0, 0x60, 0xEA});
  Hand endless(u"x");
  endless.node(0, "-C--", 5, 5, u".", 3, 0).node(1, "--PE", 9, 5, u"f", 0, 0);
  for (int i = 0; i < 10000; ++i)
    endless.extent(i, true, 0);
  test::WriteFile(dir / "endless.qns", endless.bytes);
  Hand deep(u"x");
  deep.node(0, "-C--", 5, 5, u".", 3, 0);
  const Bytes8 folder = Hand(u"").node(0, "-CP-", 6, 5, u"d", 2, 0).bytes;
  for (int i = 0; i < 1000000; ++i)  // the node image and its name
    deep.bytes.insert(deep.bytes.end(), folder.end() - kNodeImageBytes - 4, folder.end());
  test::WriteFile(dir / "deep.qns", deep.bytes);

  Engine name, chain, nested;
  EXPECT_TRUE(LoadScanInfo(name, dir / "name.qns").truncated);
  LoadScanInfo(chain, dir / "endless.qns");
  ASSERT_NE(chain.treeRoot->firstChild, nullptr);
  EXPECT_EQ(chain.treeRoot->firstChild->extents.size(), 10000u);
  EXPECT_TRUE(LoadScanInfo(nested, dir / "deep.qns").loaded);
  int depth = 0;
  for (const ItemNode* n = nested.treeRoot; n->firstChild; n = n->firstChild)
    ++depth;
  EXPECT_EQ(depth, 1000000);
  ASSERT_TRUE(SaveScanInfo(nested, dir / "again.qns"));
  EXPECT_EQ(std::filesystem::file_size(dir / "again.qns"), deep.bytes.size());
}

}  // namespace
}  // namespace restorix
