// The FAT scan on volumes built in memory: which entries become items, the
// folder check, folders met twice, cluster chains and copying an item.
#include "fs/fat_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>
#include <tuple>

#include "disk/volume.h"
#include "fs/fat_data.h"
#include "fs/item_reader.h"
#include "fs/scan.h"
#include "support/boot_sectors.h"
#include "support/fake_source.h"
#include "support/test_support.h"
#include "util/bytes.h"
#include "util/text.h"

namespace restorix {
namespace {

using Bytes32 = std::vector<std::uint8_t>;
using Cells = std::vector<std::uint32_t>;
using Pairs = std::vector<std::pair<std::uint32_t, std::uint32_t>>;  // FAT cell and value
using Clusters = std::vector<std::pair<std::uint32_t, Bytes32>>;
constexpr std::uint16_t kDay = 0x5A21;  // 2025-01-01

// The volumes of boot_sectors.h in memory. FAT16: FAT at sector 4, the fixed
// root at 404, cluster 2 at 436, 4 sectors a cluster, 51,200 FAT entries.
// FAT32: FAT at 32, cluster 2 (the root) at 1232, 8 sectors a cluster.
struct FatDisk {
  std::shared_ptr<const Volume> volume;
  std::shared_ptr<test::FakeSource> source;  // to count its reads
};
FatDisk FatVolume(int bits, const Bytes32& root, const Clusters& clusters = {},
                  const Pairs& fat = {}) {
  const bool fat32 = bits == 32;
  Bytes32 b = fat32 ? test::Fat32Boot() : test::Fat16Boot();
  b.resize(std::size_t{fat32 ? 4u : 2u} << 20);
  const auto at = [&](std::uint32_t c) {
    return b.begin() + 512 * (fat32 ? 1216 + c * 8 : 428 + c * 4);
  };
  std::copy(root.begin(), root.end(), fat32 ? at(2) : b.begin() + 404 * 512);
  for (const auto& [cluster, data] : clusters)
    std::copy(data.begin(), data.end(), at(cluster));
  if (fat32) StoreLE<std::uint32_t>(b, 16384 + 8, 0x0FFFFFFF);  // the root's one cluster
  for (const auto& [cell, value] : fat)
    fat32 ? StoreLE<std::uint32_t>(b, 16384 + 4 * cell, value)
          : StoreLE<std::uint16_t>(b, 2048 + 2 * cell, static_cast<std::uint16_t>(value));
  auto source = std::make_shared<test::FakeSource>(std::move(b));
  return {Volume::Open(SourceKind::LogicalDrive, source, u"fat").volume, source};
}
Pairs Links(const Cells& cells) {  // the cells in order, then the end of the chain
  Pairs fat;
  for (std::size_t i = 0; i < cells.size(); ++i)
    fat.emplace_back(cells[i], i + 1 < cells.size() ? cells[i + 1] : 0x0FFFFFFF);
  return fat;
}

// A short entry; `name` is up to 11 bytes of name and extension, a leading
// '?' standing for the 0xE5 a deletion leaves.
Bytes32 Entry(std::string_view name, std::uint8_t attribute, std::uint32_t cluster,
              std::uint16_t created = kDay, std::uint8_t caseBits = 0) {
  Bytes32 e(name.begin(), name.end());
  e.resize(11, ' ');
  e.resize(32, 0);
  e[0] = name[0] == '?' ? 0xE5 : e[0];
  e[11] = attribute;
  e[12] = caseBits;
  StoreLE<std::uint16_t>(e, 16, created);
  StoreLE<std::uint16_t>(e, 20, static_cast<std::uint16_t>(cluster >> 16));
  StoreLE<std::uint16_t>(e, 26, static_cast<std::uint16_t>(cluster));
  return e;
}
Bytes32 File(std::string_view name, std::uint32_t cluster) {
  return Entry(name, 0x20, cluster);
}
Bytes32 Folder(std::string_view name, std::uint32_t cluster, std::uint16_t created = kDay) {
  return Entry(name, 0x10, cluster, created);
}
// "." and ".." opening a subfolder; a parent of 0 is the root.
Bytes32 Dots(std::uint32_t self, std::uint32_t parent, std::uint16_t created = kDay) {
  return test::Cat({Folder(".", self, created), Folder("..", parent, created)});
}

// The deleted long-name entries of `name` in their on-disk order.
Bytes32 Long(const std::u16string& name) {
  static constexpr std::size_t kUnitAt[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  std::u16string units = name + u'\0';
  units.resize((name.size() + 12) / 13 * 13, u'\xFFFF');
  Bytes32 out;
  for (std::size_t piece = units.size() / 13; piece-- > 0;) {
    Bytes32 e = Entry("?", 0x0F, 0);
    for (std::size_t k = 0; k < 13; ++k)
      StoreLE<std::uint16_t>(e, kUnitAt[k], units[piece * 13 + k]);
    out = test::Cat({out, e});
  }
  return out;
}

TEST(FatScanTest, WhichEntriesBecomeItems) {
  const auto root = [](const Bytes32& entry) { return test::Cat({entry, File("?EXT    TXT", 6)}); };
  const char *listed = ".+(XEXT.TXT XILE.TXT)", *skipped = ".+(XEXT.TXT)", *ended = ".+()";
  const Bytes32 old = Folder("?LD", 40), file41 = File("?ILE    TXT", 41);
  const Bytes32 deleted = Folder("?LDNAME", 40), live = Folder("NEWNAME", 40);
  const auto at40 = [](const Bytes32& data) { return Clusters{{40, data}}; };
  const Clusters intact = at40(test::Cat({Dots(40, 0), file41}));
  // EMPTY, with nothing deleted below it, is pruned; inside a deleted folder
  // everything counts as deleted, live entries too.
  const Bytes32 listing =
      test::Cat({Entry("RESTORIX", 0x08, 0), File("?WRD0001TMP", 10), File("LIVE    TXT", 11),
                 File("?OEXT", 12), Long(u"Kitchen list march.txt"), File("?ITCHE~1TXT", 13),
                 Folder("DOCS", 20), Folder("EMPTY", 30), Folder("?LD", 40)});
  const Clusters below = {
      {20, test::Cat({Dots(20, 0), File("?EPORT  DOC", 21), File("KEEP    TXT", 22)})},
      {30, test::Cat({Dots(30, 0), File("LIVE2   TXT", 31)})},
      {40, test::Cat({Dots(40, 0), File("INSIDE  TXT", 41), Folder("SUB", 42)})},
      {42, test::Cat({Dots(42, 40), File("DEEP    TXT", 43)})}};
  // A fixed fault: OLD was deleted and NEW, made later in DOCS, took its
  // cluster. OLD, met first, fails the folder check; NEW is still read.
  const Clusters newer = {{20, test::Cat({Dots(20, 0), Folder("NEW", 30, kDay + 7)})},
                          {30, test::Cat({Dots(30, 20, kDay + 7), File("?ILE    TXT", 31)})}};
  // UP fails the folder check; D and E lost their dot entries, so only the
  // clusters read already stop SELF and BACK. A's .. of 0 names the root.
  const Clusters back = {
      {10, test::Cat({Dots(10, 0), Folder("B", 11)})},
      {11, test::Cat({Dots(11, 10), Folder("UP", 10), File("?ILE1   TXT", 12)})},
      {20, test::Cat({Folder("SELF", 20), Folder("E", 21), File("?ILE2   TXT", 22)})},
      {21, test::Cat({Folder("BACK", 20), File("?ILE3   TXT", 23)})}};
  const std::tuple<const char*, int, Bytes32, Clusters, const char*> cases[] = {
      {"the listing", 16, listing, below,
       ".+(XLD(SUB(DEEP.TXT) INSIDE.TXT) DOCS+(XEPORT.DOC) Kitchen list march.txt XOEXT "
       "XWRD0001.TMP)"},
      {"FAT32, cluster 2 (the root's)", 32, root(File("?ILE    TXT", 2)), {}, skipped},
      {"FAT32, cluster 3", 32, root(File("?ILE    TXT", 3)), {}, listed},
      {"FAT16, cluster 1", 16, root(File("?ILE    TXT", 1)), {}, skipped},
      {"FAT16, cluster 2", 16, root(File("?ILE    TXT", 2)), {}, listed},
      {"the last FAT entry", 16, root(File("?ILE    TXT", 51200)), {}, listed},
      {"past the last FAT entry", 16, root(File("?ILE    TXT", 51201)), {}, skipped},
      {"the high word counts", 32, root(File("?ILE    TXT", 0x20005)), {}, skipped},
      {"attribute 0", 16, root(Entry("?ILE    TXT", 0x00, 5)), {}, listed},
      {"attribute 0x18 ends the folder", 16, root(Entry("?ILE    TXT", 0x18, 5)), {}, ended},
      {"attribute 0x31 ends the folder", 16, root(Entry("?ILE    TXT", 0x31, 5)), {}, ended},
      {"first byte 0 ends the folder", 16, root(File({"\0ILE    TXT", 11}, 5)), {}, ended},
      {"case bits 0x18", 16, root(Entry("?ILE    TXT", 0x20, 5, kDay, 0x18)), {}, listed},
      {"case bits 0x01", 16, root(Entry("?ILE    TXT", 0x20, 5, kDay, 0x01)), {}, skipped},
      {"a label in the first slot", 32, root(Entry("?ILE    TXT", 0x08, 5)), {}, skipped},
      {"a long name over 255 units",
       16,
       root(test::Cat({Long(std::u16string(256, 'n')), File("?ILE    TXT", 5)})),
       {},
       listed},
      // A deleted folder is read only while its first cluster still holds it.
      {"deleted folder intact", 16, old, intact, ".+(XLD(XILE.TXT))"},
      {"its . another cluster", 16, old, at40(test::Cat({Dots(41, 0), file41})), ".+()"},
      {"made another day", 16, old, at40(test::Cat({Dots(40, 0, kDay + 1), file41})), ".+()"},
      {"now a file's data", 16, old, at40(Bytes32(2048, 'x')), ".+()"},
      // Entries for the same folder cluster: it is read once. A renamed folder
      // leaves its old entry behind, deleted, before the new one.
      {"deleted, then live: merged", 16, test::Cat({deleted, live}), intact,
       ".+(NEWNAME+(XILE.TXT))"},
      {"two deleted: the later name", 16, test::Cat({deleted, Folder("?THER", 40)}), intact,
       ".+(XTHER(XILE.TXT))"},
      {"live, then deleted: once", 16, test::Cat({live, deleted}), intact, ".+(XLDNAME(XILE.TXT))"},
      {"a newer folder took OLD's cluster", 16, test::Cat({Folder("DOCS", 20), Folder("?LD", 30)}),
       newer, ".+(DOCS+(NEW+(XILE.TXT)))"},
      {"pointing back", 32, test::Cat({Folder("A", 10), Folder("D", 20)}), back,
       ".+(D+(XILE2.TXT E+(XILE3.TXT)) A+(B+(XILE1.TXT)))"},
  };
  for (const auto& [what, bits, entries, clusters, tree] : cases) {
    const auto volume = FatVolume(bits, entries, clusters).volume;
    ASSERT_TRUE(volume);
    const test::ScanRun scan = test::ScanVolume(*volume);
    EXPECT_TRUE(scan.completed);
    EXPECT_EQ(test::Render(scan.tree.root()), tree) << what;
    EXPECT_EQ(scan.tree.root()->id, bits / 16u) << what;  // the root's id: 1 on FAT16, 2 on FAT32
  }
}

// A folder whose chain loops back (A -> B -> A) is read once round, not
// once per FAT entry, and its files are listed once.
TEST(FatScanTest, AFolderChainThatLoopsIsReadOnceRound) {
  // Both clusters full of entries (empty deleted files, not listed), so
  // that no free entry ends the folder.
  const Bytes32 empty = Entry("?MPTY   TXT", 0x20, 0);
  Bytes32 filler;
  for (int i = 0; i < 64; ++i)
    filler.insert(filler.end(), empty.begin(), empty.end());
  Bytes32 first = test::Cat({Dots(40, 0), File("?ILE    TXT", 50)});
  first.insert(first.end(), filler.begin() + 3 * 32, filler.end());
  const auto [volume, source] =
      FatVolume(16, Folder("LOOP", 40), {{40, first}, {41, filler}}, {{40, 41}, {41, 40}});
  ASSERT_TRUE(volume);
  const test::ScanRun scan = test::ScanVolume(*volume);
  EXPECT_TRUE(scan.completed);
  const std::string tree = test::Render(scan.tree.root());
  EXPECT_EQ(tree.size(), std::string(".+(LOOP+(XILE.TXT))").size()) << tree.substr(0, 60);
  EXPECT_LT(source->reads(), 20);
}

// A long name whose entries reach the end of a folder's cluster goes on in
// the folder's next cluster (4096 bytes: 128 entries, "." and ".." first).
TEST(FatScanTest, LongNamesCarryOverIntoTheFoldersNextCluster) {
  const Bytes32 empty = Entry("?MPTY   TXT", 0x20, 0);  // not listed: first cluster 0
  const Bytes32 name = test::Cat({Long(u"Meeting notes item 05.txt"), File("?EETIN~1TXT", 50)});
  const std::tuple<const char*, std::size_t, bool, const char*> cases[] = {
      {"all in one cluster", 0, true, ".+(LONG+(Meeting notes item 05.txt))"},
      {"pieces, then the short entry", 124, true, ".+(LONG+(Meeting notes item 05.txt))"},
      {"one piece on each side", 125, true, ".+(LONG+(Meeting notes item 05.txt))"},
      {"the chain ends after the pieces", 124, false, ".+()"},
  };
  for (const auto& [what, fill, linked, tree] : cases) {
    Bytes32 entries = Dots(40, 0);
    for (std::size_t i = 0; i < fill; ++i)
      entries = test::Cat({entries, empty});
    entries = test::Cat({entries, name});
    Bytes32 first(entries.begin(), entries.begin() + std::min<std::size_t>(entries.size(), 4096));
    Bytes32 second(entries.begin() + static_cast<std::ptrdiff_t>(first.size()), entries.end());
    if (!linked) second = {};
    const auto volume = FatVolume(32, Folder("LONG", 40), {{40, first}, {41, second}},
                                  linked ? Links({40, 41}) : Links({40}))
                            .volume;
    ASSERT_TRUE(volume);
    const test::ScanRun scan = test::ScanVolume(*volume);
    EXPECT_EQ(test::Render(scan.tree.root()), tree) << what;
  }
}

TEST(FatClusterChainTest, FollowsTheFirstFatReadingEachFatSectorOnceInARow) {
  // FAT bits, cells set, first cell, the chain's first cells and length, FAT
  // sectors read (FAT16: 256 cells a sector).
  const std::tuple<const char*, int, Pairs, std::uint32_t, Cells, std::size_t, int> cases[] = {
      {"cleared (a deleted file)", 16, {}, 5, {5}, 1, 1},
      {"within one sector", 16, Links({5, 6, 200}), 5, {5, 6, 200}, 3, 1},
      {"into the next sector", 16, Links({5, 6, 300}), 5, {5, 6, 300}, 3, 2},
      {"back and forth", 16, Links({5, 300, 6, 301}), 5, {5, 300, 6, 301}, 4, 4},
      {"FAT32, upper four bits ignored", 32, {{5, 0xF0000006}, {6, 0x0FFFFFF8}}, 5, {5, 6}, 2, 1},
      {"past the last FAT entry", 16, {{5, 51201}}, 5, {5}, 1, 1},
      {"a loop, one cell past the FAT's entries", 16, {{5, 6}, {6, 5}}, 5, {5, 6, 5}, 51201, 1},
  };
  for (const auto& [what, bits, fat, first, cells, length, reads] : cases) {
    const auto [volume, source] = FatVolume(bits, {}, {}, fat);
    ASSERT_TRUE(volume);
    const int before = source->reads();
    Cells chain = BuildClusterChain(*volume, first);
    EXPECT_EQ(source->reads() - before, reads) << what;
    EXPECT_EQ(chain.size(), length) << what;
    chain.resize(std::min(chain.size(), cells.size()));
    EXPECT_EQ(chain, cells) << what;
  }
}

TEST(FatReaderTest, FollowsTheChainOnlyWhenItFitsTheSize) {
  Clusters filled;  // 4096-byte clusters, each filled with its number's low byte
  for (const std::uint32_t first : {100, 200, 500})
    for (std::uint32_t cluster = first; cluster <= first + 10; ++cluster)
      filled.emplace_back(cluster, Bytes32(4096, static_cast<std::uint8_t>(cluster)));
  const std::tuple<const char*, Cells, std::uint32_t, Cells> cases[] = {
      {"deleted, 3136 last", {100}, 40000, {100, 101, 102, 103, 104, 105, 106, 107, 108, 109}},
      {"two cells, not adjacent", {200, 500}, 8192, {200, 500}},
      {"size a cluster short of the chain", {200, 500, 501}, 8192, {200, 500}},
      {"chain too short: consecutive", {200, 500, 501}, 12289, {200, 201, 202, 203}},
  };
  for (const auto& [what, chain, size, read] : cases) {
    const auto volume = FatVolume(32, {}, filled, chain.size() > 1 ? Links(chain) : Pairs{}).volume;
    ASSERT_TRUE(volume);
    ItemNode node;
    node.id = chain.front();
    node.location = FatChain{chain.front()};
    node.size = size;
    Bytes32 expected;
    for (const std::uint32_t cluster : read)
      expected.insert(expected.end(), 4096, static_cast<std::uint8_t>(cluster));
    expected.resize(size);
    EXPECT_TRUE(test::ReadItem(*volume, node) == expected) << what;
    // Any stretch reads as the same bytes as the whole.
    ItemReader reader(*volume, node);
    Bytes32 part(5000);
    ASSERT_EQ(reader.read(4000, part), std::min<std::size_t>(5000, size - 4000)) << what;
    part.resize(std::min<std::size_t>(5000, size - 4000));
    EXPECT_TRUE(std::equal(part.begin(), part.end(), expected.begin() + 4000)) << what;
  }
}

}  // namespace
}  // namespace restorix
