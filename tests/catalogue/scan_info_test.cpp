// Scan-information files: the layout, round trips, reopening the source, bad files.
#include "catalogue/scan_info.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
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
  explicit Hand(const std::u16string& source, FsType fsType = FsType::None)
      : bytes{'T', 'A', 'F', '-'}, extents(fsType != FsType::Fat32) {
    VolumeContext context;
    context.setFsType(fsType);
    context.setBytesPerSector(512);
    le(0x55AA, 4).text(source);
    bytes.insert(bytes.end(), context.bytes().begin(), context.bytes().end());
  }
  // Links: next sibling, first child, parent, extents.
  Hand& node(std::uint64_t size, const char* links, std::uint32_t id, std::uint32_t parentId,
             const std::u16string& name, std::uint8_t flags, bool checked, std::uint16_t date = 0,
             std::uint8_t origin = 0) {
    le(size, 8).le(links[0] == 'N', 4).le(links[1] == 'C', 4).le(links[2] == 'P', 4);
    le(links[3] == 'E' && extents, 4).le(id, 4).le(parentId, 4).le(!name.empty(), 4);
    le(date, 2).le(date ? date + 1 : 0, 2).le(flags, 1).le(name.size(), 1).le(checked, 1);
    le(origin, 1);
    return text(name);
  }
  Hand& extent(std::uint64_t start, bool next, std::uint16_t length) {
    return extents ? le(start, 8).le(next, 4).le(length, 2) : *this;
  }
};

// The scan ".+(D(a E(c)) b)": the root, its children block (D with a block of
// its own, then b), D's block (a, E), E's block (c).
Bytes8 Sample(FsType fsType = FsType::Ntfs) {
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
// Where a loaded item's data lies, as text.
std::string Location(const ItemNode& n) {
  std::ostringstream out;
  if (const auto* record = std::get_if<NtfsRecord>(&n.location)) {
    out << "record " << record->number;
    for (const Extent& e : record->extents)
      out << ' ' << e.start << ':' << e.length;
  } else if (const auto* chain = std::get_if<FatChain>(&n.location)) {
    out << "chain " << chain->firstCluster;
  } else if (const auto* carved = std::get_if<Carved>(&n.location)) {
    out << "carved " << carved->firstSector;
  }
  return out.str();
}

// Loading a file written by hand pins the layout; saving gives its bytes back.
TEST(ScanInfoTest, AFileWrittenByHandLoadsAndSavesToTheSameBytes) {
  TempDir dir;
  for (const FsType fsType : {FsType::Ntfs, FsType::Fat32}) {
    test::WriteFile(dir / "hand.qns", Sample(fsType));
    const LoadResult result = LoadScanInfo(dir / "hand.qns");
    EXPECT_TRUE(result.loaded && !result.truncated && !result.reopened) << "the source is not here";
    EXPECT_EQ(result.sourceName, u"/images/disk.img");
    EXPECT_EQ(result.context.fsType(), fsType);
    // A source that cannot be opened keeps its name and stored geometry, and
    // every read of it fails cleanly.
    EXPECT_EQ(result.volume->context(), result.context);
    EXPECT_EQ(result.volume->sourceName(), u"/images/disk.img");
    EXPECT_FALSE(result.volume->isOpen());
    Bytes8 sector(512, 0xEE);
    EXPECT_EQ(result.volume->ReadSectors(sector, 0), EBADF);
    EXPECT_EQ(sector, Bytes8(512, 0));
    EXPECT_EQ(test::Render(result.tree.root()), ".+(D(a E(c)) b)");
    std::ostringstream items;  // id/parent size flags+10*check dates location
    WalkTree(result.tree.root(), [&](const ItemNode& n, int) {
      items << n.id << '/' << n.parentId << ' ' << n.size << ' '
            << static_cast<int>(n.flags) + 10 * n.checked << ' ' << n.createDate << '-'
            << n.accessDate << ' ' << Location(n) << ';';
    });
    EXPECT_EQ(items.str(),
              fsType == FsType::Fat32
                  ? "40/5 0 12 23941-23942 chain 40;41/40 12 10 23941-23942 chain 41;"
                    "43/40 0 2 23941-23942 chain 43;44/43 7 10 23941-23942 chain 44;"
                    "42/5 3 0 23941-23942 chain 42;"
                  : "40/5 0 12 23941-23942 record 40;41/40 12 10 23941-23942 record 41 100:56;"
                    "43/40 0 2 23941-23942 record 43;44/43 7 10 23941-23942 record 44 400:80;"
                    "42/5 3 0 23941-23942 record 42 200:64 300:72;");
    ASSERT_TRUE(SaveScanInfo(dir / "again.qns", result.sourceName, result.context, result.tree));
    EXPECT_EQ(test::ReadFile(dir / "again.qns"), Sample(fsType));
    if (fsType != FsType::Ntfs) continue;
    VolumeContext fat = result.context;
    fat.setFsType(FsType::Fat32);  // FAT stores no extents, even for items that have some
    ASSERT_TRUE(SaveScanInfo(dir / "fat.qns", result.sourceName, fat, result.tree));
    EXPECT_EQ(test::ReadFile(dir / "fat.qns"), Sample(FsType::Fat32));
  }
  ItemTree empty;
  empty.StartScan(5);
  empty.FinishScan();
  ASSERT_TRUE(SaveScanInfo(dir / "empty.qns", u"E:", VolumeContext{}, empty));
  EXPECT_EQ(std::filesystem::file_size(dir / "empty.qns"), 8u + 2 + 2 * 2 + 71 + 44 + 2 + 2);
}

// A carved item keeps its first sector: as an extent where the file system
// stores them, as the item's id on FAT.
TEST(ScanInfoTest, CarvedItemsKeepWhereTheyStart) {
  TempDir dir;
  for (const FsType fsType : {FsType::None, FsType::Ntfs, FsType::Fat32}) {
    const bool fat = fsType == FsType::Fat32;
    const std::uint8_t origin = fsType == FsType::None ? 1 : 2;
    const Bytes8 bytes = Hand(u"disk", fsType)
                             .node(0, "-C--", 5, 5, u".", 3, 1)
                             .node(512, "--PE", fat ? 123456 : 0, 5, u"123456.jpg", 0, 1, 0, origin)
                             .extent(123456, false, 0)
                             .bytes;
    test::WriteFile(dir / "carved.qns", bytes);
    const LoadResult result = ReadScanInfo(dir / "carved.qns");
    ASSERT_TRUE(result.loaded && !result.truncated);
    const ItemNode* item = result.tree.root()->firstChild;
    ASSERT_NE(item, nullptr);
    EXPECT_TRUE(item->isCarved());
    EXPECT_EQ(Location(*item), "carved 123456");
    ASSERT_TRUE(SaveScanInfo(dir / "again.qns", result.sourceName, result.context, result.tree));
    EXPECT_EQ(test::ReadFile(dir / "again.qns"), bytes);
  }
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
  const auto volume = Volume::Open(SourceKind::LogicalDrive, disk, 2).volume;
  ASSERT_TRUE(volume);
  ItemTree tree;
  tree.StartScan(5);
  tree.FinishScan();
  ASSERT_TRUE(SaveScanInfo(dir / "scan.qns", volume->sourceName(), volume->context(), tree));
  const LoadResult loaded = LoadScanInfo(dir / "scan.qns");
  ASSERT_TRUE(loaded.reopened);
  EXPECT_EQ(loaded.volume, loaded.reopened.volume);
  EXPECT_EQ(loaded.volume->context(), volume->context()) << "partition 2, not the whole disk";
  // The same bytes as partition 2's, not the disk's.
  std::vector<std::uint8_t> ours(512), theirs(512);
  volume->ReadSectors(theirs, 0);
  loaded.volume->ReadSectors(ours, 0);
  EXPECT_EQ(ours, theirs);
  std::filesystem::copy_file(disk, moved);  // given elsewhere instead
  const LoadResult elsewhere = LoadScanInfo(dir / "scan.qns", moved);
  ASSERT_TRUE(elsewhere.reopened);
  EXPECT_EQ(elsewhere.volume->sourceName(), moved.u16string());
}

TEST(ScanInfoTest, BadFilesLoadWithoutHarmBoundedByTheFile) {
  TempDir dir;
  test::WriteFile(dir / "text.qns", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'});
  test::WriteFile(dir / "version.qns", {'T', 'A', 'F', '-', 0xAB, 0x55, 0, 0});
  for (const char* name : {"text.qns", "version.qns", "missing.qns"})
    EXPECT_FALSE(LoadScanInfo(dir / name).loaded) << name;
  // Every prefix of a good file loads and keeps what it holds.
  const Bytes8 good = Sample();
  std::size_t before = 0;
  for (auto end = good.begin() + 8; end < good.end(); ++end) {
    test::WriteFile(dir / "cut.qns", Bytes8(good.begin(), end));
    const LoadResult result = ReadScanInfo(dir / "cut.qns");
    ASSERT_TRUE(result.loaded && result.truncated) << end - good.begin();
    std::size_t items = 0;
    WalkTree(result.tree.root(), [&](const ItemNode&, int) { ++items; });
    EXPECT_TRUE(items >= before && items <= 5) << "a longer prefix never loses items";
    before = items;
  }
  // A source name past the end; extents that say another follows until the
  // file ends (a raw-disk scan stores them); a million folders, each in the last.
  test::WriteFile(dir / "name.qns", {'T', 'A', 'F', '-', 0xAA, 0x55, 0, 0, 0x60, 0xEA});
  Hand endless(u"x");
  endless.node(0, "-C--", 5, 5, u".", 3, 0).node(1, "--PE", 9, 5, u"f", 0, 0, 0, 1);
  for (int i = 0; i < 10000; ++i)
    endless.extent(i, true, 0);
  test::WriteFile(dir / "endless.qns", endless.bytes);
  Hand deep(u"x");
  deep.node(0, "-C--", 5, 5, u".", 3, 0);
  const Bytes8 folder = Hand(u"").node(0, "-CP-", 6, 5, u"d", 2, 0).bytes;
  for (int i = 0; i < 1000000; ++i)  // the node image and its name
    deep.bytes.insert(deep.bytes.end(), folder.end() - kNodeImageBytes - 4, folder.end());
  test::WriteFile(dir / "deep.qns", deep.bytes);

  EXPECT_TRUE(ReadScanInfo(dir / "name.qns").truncated);
  const LoadResult chain = ReadScanInfo(dir / "endless.qns");
  EXPECT_TRUE(chain.truncated);
  ASSERT_NE(chain.tree.root()->firstChild, nullptr);
  EXPECT_EQ(Location(*chain.tree.root()->firstChild), "carved 0");
  const LoadResult nested = ReadScanInfo(dir / "deep.qns");
  EXPECT_TRUE(nested.loaded);
  int depth = 0;
  for (const ItemNode* n = nested.tree.root(); n->firstChild; n = n->firstChild)
    ++depth;
  EXPECT_EQ(depth, 1000000);
  ASSERT_TRUE(SaveScanInfo(dir / "again.qns", nested.sourceName, nested.context, nested.tree));
  EXPECT_EQ(std::filesystem::file_size(dir / "again.qns"), deep.bytes.size());
}

std::vector<std::string> Names(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A saved scan replaces the file only once it is whole: a save cut short by a
// full disk (a file-size limit here) leaves the earlier file as it was, or
// none, and no temporary file. A link keeps naming the file it named.
TEST(ScanInfoTest, ASaveCutShortLeavesTheEarlierFileAsItWas) {
  ::signal(SIGXFSZ, SIG_IGN);
  TempDir dir;
  const Bytes8 good = Sample();
  test::WriteFile(dir / "scan.qns", good);
  const LoadResult loaded = ReadScanInfo(dir / "scan.qns");
  ASSERT_TRUE(loaded.loaded);
  const auto save = [&](const std::filesystem::path& path) {
    int error = 0;
    const bool saved = SaveScanInfo(path, loaded.sourceName, loaded.context, loaded.tree, &error);
    return saved ? 0 : error;
  };
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  const rlimit limited{good.size() / 2, old.rlim_max};
  ::setrlimit(RLIMIT_FSIZE, &limited);
  const int cut = save(dir / "scan.qns"), cutNew = save(dir / "new.qns");
  ::setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(std::pair(cut, cutNew), std::pair(EFBIG, EFBIG));
  EXPECT_EQ(test::ReadFile(dir / "scan.qns"), good);
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"scan.qns"});

  std::filesystem::create_symlink("scan.qns", dir / "link.qns");
  test::WriteFile(dir / "scan.qns", {});
  EXPECT_EQ(save(dir / "link.qns"), 0);
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.qns"));
  EXPECT_EQ(test::ReadFile(dir / "scan.qns"), good);
  EXPECT_EQ(save(dir.path()), EISDIR);
}

// Files that cannot be read say why, rather than passing for bad scans.
TEST(ScanInfoTest, AMissingFileOrAFolderSaysWhy) {
  TempDir dir;
  for (const auto& [path, error] :
       {std::pair{dir / "missing.qns", ENOENT}, std::pair{dir.path(), EISDIR}}) {
    const LoadResult result = ReadScanInfo(path);
    EXPECT_FALSE(result.loaded) << path;
    EXPECT_EQ(result.error, error) << path;
  }
}

}  // namespace
}  // namespace restorix
