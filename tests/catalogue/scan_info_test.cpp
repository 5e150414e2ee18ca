// Scan-information files: the byte layout pinned by a file written out by
// hand, round trips, reopening the source, and files that end early or lie.
#include "catalogue/scan_info.h"

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "util/text.h"

namespace restorix {
namespace {

using test::TempDir;
using Bytes8 = std::vector<std::uint8_t>;

// Little-endian pieces of a hand-written file.
struct Hand {
  Bytes8 bytes;
  Hand& u8(std::uint8_t v) { bytes.push_back(v); return *this; }
  Hand& u16(std::uint16_t v) { return u8(v & 0xFF).u8(v >> 8); }
  Hand& u32(std::uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
  Hand& u64(std::uint64_t v) { return u32(v & 0xFFFFFFFF).u32(v >> 32); }
  Hand& text(const std::u16string& s) {
    u16(static_cast<std::uint16_t>(s.size()));
    for (const char16_t c : s) u16(c);
    return *this;
  }
  Hand& raw(const Bytes8& b) { bytes.insert(bytes.end(), b.begin(), b.end()); return *this; }
};

ItemNode* Child(ItemNode* parent, const std::u16string& name, std::uint32_t id, std::uint8_t flags,
                std::uint64_t size, std::vector<Extent> extents = {}, std::uint8_t checked = 0) {
  auto* node = new ItemNode;
  node->name = name, node->id = id, node->parentId = parent->id, node->flags = flags;
  node->size = size, node->extents = std::move(extents), node->checked = checked;
  node->createDate = 0x5D85, node->accessDate = 0x5D86;
  node->parent = parent;
  ItemNode** link = &parent->firstChild;
  while (*link) link = &(*link)->next;
  *link = node;
  return node;
}

// An NTFS scan: the root, a folder D holding a, and a file b with two
// extents at the root. The last folder holds one more folder E with c.
void SampleTree(Engine& engine) {
  engine.sourceName = u"/images/disk.img";
  engine.context.setFsType(FS_NTFS);
  engine.context.setBytesPerSector(512);
  engine.context.setSectorsPerCluster(8);
  engine.context.setMftRecordSectors(2);
  engine.context.setTotalSectors(0x12345);
  engine.treeRoot = MakeRootNode(5);
  engine.treeRoot->checked = 1;
  ItemNode* d = Child(engine.treeRoot, u"D", 40, 2, 0, {}, 1);
  Child(d, u"a", 41, 0, 12, {{100, 0x38}}, 1);
  Child(engine.treeRoot, u"b", 42, 0, 3, {{200, 0x40}, {300, 0x48}});
  ItemNode* e = Child(d, u"E", 43, 2, 0);
  Child(e, u"c", 44, 0, 7, {{400, 0x50}}, 1);
}

Bytes8 NodeImage(std::uint64_t size, bool next, bool child, bool parent, bool extents,
                 std::uint32_t id, std::uint32_t parentId, const std::u16string& name,
                 std::uint16_t created, std::uint16_t accessed, std::uint8_t flags,
                 std::uint8_t checked) {
  return Hand{}
      .u64(size).u32(next).u32(child).u32(parent).u32(extents).u32(id).u32(parentId)
      .u32(!name.empty()).u16(created).u16(accessed).u8(flags)
      .u8(static_cast<std::uint8_t>(name.size())).u8(checked).u8(0).text(name).bytes;
}

Bytes8 ExtentImage(std::uint64_t start, bool next, std::uint16_t length) {
  return Hand{}.u64(start).u32(next).u16(length).bytes;
}

TEST(ScanInfoTest, LayoutIsPinnedByAFileWrittenByHand) {
  Engine engine;
  SampleTree(engine);
  TempDir dir;
  ASSERT_TRUE(SaveScanInfo(engine, dir / "scan.qns"));

  const Bytes8 context(engine.context.bytes().begin(), engine.context.bytes().end());
  const Bytes8 expected =
      Hand{}
          .raw({'T', 'A', 'F', '-'}).u32(0x55AA).text(u"/images/disk.img").raw(context)
          // The root, then its children block: D (with a block of its own) and b.
          .raw(NodeImage(0, false, true, false, false, 5, 5, u".", 0, 0, 3, 1))
          .raw(NodeImage(0, true, true, true, false, 40, 5, u"D", 0x5D85, 0x5D86, 2, 1))
          .raw(NodeImage(3, false, false, true, true, 42, 5, u"b", 0x5D85, 0x5D86, 0, 0))
          .raw(ExtentImage(200, true, 0x40)).raw(ExtentImage(300, false, 0x48))
          // D's block: a, then E; then E's block: c.
          .raw(NodeImage(12, true, false, true, true, 41, 40, u"a", 0x5D85, 0x5D86, 0, 1))
          .raw(ExtentImage(100, false, 0x38))
          .raw(NodeImage(0, false, true, true, false, 43, 40, u"E", 0x5D85, 0x5D86, 2, 0))
          .raw(NodeImage(7, false, false, true, true, 44, 43, u"c", 0x5D85, 0x5D86, 0, 1))
          .raw(ExtentImage(400, false, 0x50))
          .bytes;
  EXPECT_EQ(test::ReadFile(dir / "scan.qns"), expected);
}

TEST(ScanInfoTest, SaveLoadSaveGivesTheSameBytesAndKeepsEveryCheck) {
  Engine engine;
  SampleTree(engine);
  TempDir dir;
  ASSERT_TRUE(SaveScanInfo(engine, dir / "first.qns"));
  Engine loaded;
  const LoadResult result = LoadScanInfo(loaded, dir / "first.qns");
  EXPECT_TRUE(result.loaded);
  EXPECT_FALSE(result.truncated);
  EXPECT_FALSE(result.reopened) << "the source is not here";
  EXPECT_EQ(loaded.context, engine.context) << "the stored geometry stays";
  EXPECT_EQ(loaded.sourceName, u"/images/disk.img");
  EXPECT_EQ(test::Render(loaded.treeRoot), ".(D(a E(c)) b)");
  std::vector<int> checks;
  WalkTree(loaded.treeRoot, [&](const ItemNode& n, int) { checks.push_back(n.checked); });
  EXPECT_EQ(checks, (std::vector<int>{1, 1, 0, 1, 0}));
  EXPECT_EQ(loaded.treeRoot->firstChild->firstChild->parent, loaded.treeRoot->firstChild);
  ASSERT_TRUE(SaveScanInfo(loaded, dir / "second.qns"));
  EXPECT_EQ(test::ReadFile(dir / "second.qns"), test::ReadFile(dir / "first.qns"));
  // Without a source, reading an item's data fails cleanly.
  std::vector<std::uint8_t> sector(512);
  EXPECT_EQ(loaded.ReadSectors(sector, 100), EBADF);
}

TEST(ScanInfoTest, SizesAndExtentsByFileSystem) {
  TempDir dir;
  Engine empty;
  empty.sourceName = u"E:";
  empty.treeRoot = MakeRootNode(5);
  ASSERT_TRUE(SaveScanInfo(empty, dir / "empty.qns"));
  EXPECT_EQ(std::filesystem::file_size(dir / "empty.qns"), 8u + 2 + 2 * 2 + 71 + 44 + 2 + 2);

  // A FAT scan stores no extents, even for items that have some.
  Engine fat;
  SampleTree(fat);
  fat.context.setFsType(FS_FAT32);
  ASSERT_TRUE(SaveScanInfo(fat, dir / "fat.qns"));
  Engine ntfs;
  SampleTree(ntfs);
  ASSERT_TRUE(SaveScanInfo(ntfs, dir / "ntfs.qns"));
  EXPECT_EQ(std::filesystem::file_size(dir / "ntfs.qns") - std::filesystem::file_size(dir / "fat.qns"),
            4 * kExtentImageBytes);
  Engine back;
  LoadScanInfo(back, dir / "fat.qns");
  WalkTree(back.treeRoot, [](const ItemNode& n, int) { EXPECT_TRUE(n.extents.empty()); });
}

TEST(ScanInfoTest, FileNames) {
  std::tm day{};
  day.tm_year = 126, day.tm_mon = 11, day.tm_mday = 5, day.tm_wday = 6;
  EXPECT_EQ(ScanInfoFileName(day), "QN_RSX_Scan_Info# Sat, 05-Dec-2026");
  EXPECT_EQ(WithScanInfoExtension("scan.qns"), "scan.qns");
  EXPECT_EQ(WithScanInfoExtension("scan.QNS"), "scan.QNS.qns");
  EXPECT_EQ(WithScanInfoExtension("scan"), "scan.qns");
  EXPECT_EQ(WithScanInfoExtension("my.scan.txt"), "my.scan.txt.qns");
}

TEST(ScanInfoTest, ReopensTheImageAndFindsAPartitionByItsGeometry) {
  TempDir dir;
  const auto disk = test::Fixture("demo-disk.img");
  Engine engine;
  ASSERT_TRUE(engine.OpenSource(SOURCE_LOGICAL_DRIVE, disk, 2));
  engine.treeRoot = MakeRootNode(5);
  ASSERT_TRUE(SaveScanInfo(engine, dir / "scan.qns"));

  Engine loaded;
  const LoadResult result = LoadScanInfo(loaded, dir / "scan.qns");
  ASSERT_TRUE(result.reopened);
  EXPECT_EQ(loaded.context, engine.context);
  EXPECT_EQ(loaded.source->size(), engine.source->size()) << "partition 2, not the whole disk";

  // Moved elsewhere: the path given instead is opened.
  const auto moved = dir / "moved.img";
  std::filesystem::copy_file(disk, moved);
  Engine elsewhere;
  EXPECT_TRUE(LoadScanInfo(elsewhere, dir / "scan.qns", moved).reopened);
  EXPECT_EQ(elsewhere.sourceName, moved.u16string());
}

TEST(ScanInfoTest, FilesThatAreNotScansOrEndEarly) {
  TempDir dir;
  test::WriteFile(dir / "text.qns", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'});
  test::WriteFile(dir / "version.qns", Hand{}.raw({'T', 'A', 'F', '-'}).u32(0x55AB).bytes);
  Engine engine;
  EXPECT_FALSE(LoadScanInfo(engine, dir / "text.qns").loaded);
  EXPECT_FALSE(LoadScanInfo(engine, dir / "version.qns").loaded);
  EXPECT_FALSE(LoadScanInfo(engine, dir / "missing.qns").loaded);

  // Every prefix of a good file loads without harm and keeps what it holds.
  Engine original;
  SampleTree(original);
  ASSERT_TRUE(SaveScanInfo(original, dir / "good.qns"));
  const Bytes8 good = test::ReadFile(dir / "good.qns");
  std::size_t previousItems = 0;
  for (std::size_t length = 8; length < good.size(); ++length) {
    test::WriteFile(dir / "cut.qns", Bytes8(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length)));
    Engine cut;
    const LoadResult result = LoadScanInfo(cut, dir / "cut.qns");
    ASSERT_TRUE(result.loaded) << length;
    EXPECT_TRUE(result.truncated) << length;
    std::size_t items = 0;
    WalkTree(cut.treeRoot, [&](const ItemNode&, int) { ++items; });
    EXPECT_GE(items, previousItems) << "a longer prefix never loses items";
    EXPECT_LE(items, 5u);
    previousItems = items;
  }
}

TEST(ScanInfoTest, LyingLengthsAndEndlessChainsAreBoundedByTheFile) {
  TempDir dir;
  const Bytes8 context(71, 0);
  // A name length far past the end of the file.
  test::WriteFile(dir / "name.qns", Hand{}.raw({'T', 'A', 'F', '-'}).u32(0x55AA).u16(60000).bytes);
  Engine engine;
  EXPECT_TRUE(LoadScanInfo(engine, dir / "name.qns").truncated);

  // Extents that say another one follows, until the file ends; and a
  // raw-disk scan (fsType 0) stores extents.
  Hand endless;
  endless.raw({'T', 'A', 'F', '-'}).u32(0x55AA).text(u"x").raw(context)
      .raw(NodeImage(0, false, true, false, false, 5, 5, u".", 0, 0, 3, 0))
      .raw(NodeImage(1, false, false, true, true, 9, 5, u"f", 0, 0, 0, 0));
  for (int i = 0; i < 10000; ++i) endless.raw(ExtentImage(i, true, 0));
  test::WriteFile(dir / "endless.qns", endless.bytes);
  Engine chain;
  LoadScanInfo(chain, dir / "endless.qns");
  ASSERT_NE(chain.treeRoot->firstChild, nullptr);
  EXPECT_EQ(chain.treeRoot->firstChild->extents.size(), 10000u);

  // A million folders, each inside the one before.
  Hand deep;
  deep.raw({'T', 'A', 'F', '-'}).u32(0x55AA).text(u"x").raw(context)
      .raw(NodeImage(0, false, true, false, false, 5, 5, u".", 0, 0, 3, 0));
  for (int i = 0; i < 1000000; ++i) deep.raw(NodeImage(0, false, true, true, false, 6 + i, 5, u"d", 0, 0, 2, 0));
  test::WriteFile(dir / "deep.qns", deep.bytes);
  Engine nested;
  const LoadResult result = LoadScanInfo(nested, dir / "deep.qns");
  EXPECT_TRUE(result.loaded);
  int depth = 0;
  for (const ItemNode* n = nested.treeRoot; n->firstChild; n = n->firstChild) ++depth;
  EXPECT_EQ(depth, 1000000);
  TempDir out;
  EXPECT_TRUE(SaveScanInfo(nested, out / "again.qns"));
  EXPECT_EQ(test::ReadFile(out / "again.qns").size(), deep.bytes.size());
}

}  // namespace
}  // namespace restorix
