// The FAT scan on volumes built in memory: which directory entries become
// items and under what names, the folder check, folders met twice, cluster
// chains and copying an item's data.
#include "fs/fat_scan.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string_view>

#include "engine.h"
#include "fs/scan.h"
#include "support/boot_sectors.h"
#include "support/fake_source.h"
#include "support/test_support.h"
#include "util/bytes.h"
#include "util/text.h"

namespace restorix {
namespace {

using Bytes32 = std::vector<std::uint8_t>;

constexpr std::uint16_t kCreated = 0x5A21;  // 2025-01-01
constexpr std::uint16_t kAccessed = 0x5A45;

// The two volumes of boot_sectors.h, laid out in memory:
//   FAT16: 512-byte sectors, 4 per cluster, FAT at sector 4, the fixed root
//          at 404 (32 sectors), cluster 2 at 436, 51,200 FAT entries.
//   FAT32: 8 sectors per cluster, FAT at sector 32, cluster 2 (the root) at
//          1232, 76,800 FAT entries.
class FatVolume {
 public:
  explicit FatVolume(int bits) : fat32_(bits == 32), bytes_(std::size_t{fat32_ ? 4u : 2u} << 20) {
    const test::Sector boot = fat32_ ? test::Fat32Boot() : test::Fat16Boot();
    std::copy(boot.begin(), boot.end(), bytes_.begin());
    if (fat32_) Fat(2, 0x0FFFFFFF);
  }

  std::uint32_t clusterBytes() const { return fat32_ ? 4096 : 2048; }
  std::uint32_t entryCount() const { return fat32_ ? 76800 : 51200; }
  std::uint32_t rootId() const { return fat32_ ? 2 : 1; }
  std::uint64_t ClusterOffset(std::uint32_t cluster) const {
    return 512 *
           (fat32_ ? 1232 + std::uint64_t{cluster - 2} * 8 : 436 + std::uint64_t{cluster - 2} * 4);
  }

  void Fat(std::uint32_t cluster, std::uint32_t value) {
    if (fat32_) {
      StoreLE<std::uint32_t>(bytes_, 32 * 512 + 4 * std::size_t{cluster}, value);
    } else {
      StoreLE<std::uint16_t>(bytes_, 4 * 512 + 2 * std::size_t{cluster},
                             static_cast<std::uint16_t>(value));
    }
  }
  // Links the clusters in order and ends the chain.
  void Chain(std::initializer_list<std::uint32_t> clusters) {
    const std::uint32_t* c = clusters.begin();
    for (; c + 1 != clusters.end(); ++c)
      Fat(*c, c[1]);
    Fat(*c, fat32_ ? 0x0FFFFFFF : 0xFFFF);
  }
  void Place(std::uint64_t offset, const Bytes32& data) {
    std::copy(data.begin(), data.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
  }
  void Cluster(std::uint32_t cluster, const Bytes32& data) {
    ASSERT_LE(data.size(), clusterBytes());
    Place(ClusterOffset(cluster), data);
  }
  // The root directory: the fixed area on FAT16, cluster 2 on FAT32.
  void Root(const Bytes32& entries) {
    if (fat32_) return Cluster(2, entries);
    ASSERT_LE(entries.size(), 32u * 512);
    Place(404 * 512, entries);
  }

  OpenResult Open(Engine& engine, test::FakeSource** source = nullptr) const {
    auto fake = std::make_unique<test::FakeSource>(bytes_);
    if (source) *source = fake.get();
    return engine.OpenSource(SOURCE_LOGICAL_DRIVE, std::move(fake), u"fat");
  }

 private:
  bool fat32_;
  std::vector<std::uint8_t> bytes_;
};

// A short entry; `name` is the 11 bytes of name and extension.
Bytes32 Short(std::string_view name, std::uint8_t attribute, std::uint32_t cluster,
              std::uint32_t size = 0, std::uint16_t created = kCreated) {
  Bytes32 e(32, 0);
  std::copy_n(name.begin(), std::min<std::size_t>(11, name.size()), e.begin());
  e[11] = attribute;
  StoreLE<std::uint16_t>(e, 16, created);
  StoreLE<std::uint16_t>(e, 18, kAccessed);
  StoreLE<std::uint16_t>(e, 20, static_cast<std::uint16_t>(cluster >> 16));
  StoreLE<std::uint16_t>(e, 26, static_cast<std::uint16_t>(cluster));
  StoreLE<std::uint32_t>(e, 28, size);
  return e;
}

Bytes32 File(std::string_view name, std::uint32_t cluster, std::uint32_t size = 10) {
  return Short(name, 0x20, cluster, size);
}
Bytes32 Folder(std::string_view name, std::uint32_t cluster, std::uint16_t created = kCreated) {
  return Short(name, 0x10, cluster, 0, created);
}

// The entry as the file system leaves it on deletion: first byte 0xE5.
Bytes32 Gone(Bytes32 entry) {
  entry[0] = 0xE5;
  return entry;
}

// The long-name entries of `name` in their on-disk order (last piece first).
Bytes32 Long(const std::u16string& name, bool deleted = true) {
  static constexpr std::size_t kUnitAt[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  const std::size_t pieces = (name.size() + 12) / 13;
  Bytes32 out;
  for (std::size_t piece = pieces; piece >= 1; --piece) {
    Bytes32 e(32, 0);
    e[0] = deleted ? 0xE5 : static_cast<std::uint8_t>(piece | (piece == pieces ? 0x40 : 0));
    e[11] = 0x0F;
    for (std::size_t k = 0; k < 13; ++k) {
      const std::size_t at = (piece - 1) * 13 + k;
      const char16_t unit = at < name.size() ? name[at] : at == name.size() ? u'\0' : u'\xFFFF';
      StoreLE<std::uint16_t>(e, kUnitAt[k], unit);
    }
    out.insert(out.end(), e.begin(), e.end());
  }
  return out;
}

// "." and ".." of a subfolder's first cluster; a parent of 0 is the root.
Bytes32 Dots(std::uint32_t self, std::uint32_t parent, std::uint16_t created = kCreated) {
  Bytes32 out = Folder(".          ", self, created);
  const Bytes32 up = Folder("..         ", parent, created);
  out.insert(out.end(), up.begin(), up.end());
  return out;
}

Bytes32 Dir(std::initializer_list<Bytes32> parts) {
  Bytes32 out;
  for (const Bytes32& p : parts)
    out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::string Scan(Engine& engine) {
  engine.keepRunning = 1;
  EXPECT_NE(RunScan(engine, false, nullptr).status, 0u);
  return test::Render(engine.treeRoot);
}

const ItemNode* Find(const ItemNode* root, const std::u16string& name) {
  const ItemNode* found = nullptr;
  WalkTree(root, [&](const ItemNode& node, int) {
    if (node.name == name && found == nullptr) found = &node;
  });
  return found;
}

std::vector<std::uint8_t> Copy(Engine& engine, const ItemNode& node) {
  test::TempDir dir;
  const auto path = dir / "item";
  {
    const UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    CopyFatItem(engine, node, fd.get());
  }
  return test::ReadFile(path);
}

TEST(FatScanTest, ListsDeletedFilesAndTheFoldersThatHoldThem) {
  FatVolume v(16);
  v.Root(Dir({
      Short("RESTORIX   ", 0x08, 0),
      Gone(File("?WRD0001TMP", 10, 1500)),
      File("LIVE    TXT", 11),
      Gone(File("?OEXT      ", 12)),
      Long(u"Kitchen list march.txt"),
      Gone(File("?ITCHE~1TXT", 13, 3000)),
      Long(u"Crème brûlée – 日本語.txt"),
      Gone(File("?RMEBR~1TXT", 14)),
      Folder("DOCS       ", 20),
      Folder("EMPTY      ", 30),
      Gone(Folder("?LD        ", 40)),
  }));
  v.Cluster(20, Dir({Dots(20, 0), Gone(File("?EPORT  DOC", 21)), File("KEEP    TXT", 22)}));
  v.Cluster(30, Dir({Dots(30, 0), File("LIVE2   TXT", 31)}));
  // Inside a deleted folder everything counts as deleted, live-looking
  // entries included.
  v.Cluster(40, Dir({Dots(40, 0), File("INSIDE  TXT", 41), Folder("SUB        ", 42)}));
  v.Cluster(42, Dir({Dots(42, 40), File("DEEP    TXT", 43)}));
  Engine engine;
  ASSERT_TRUE(v.Open(engine));

  EXPECT_EQ(Scan(engine),
            ".(XLD(SUB(DEEP.TXT) INSIDE.TXT) DOCS(XEPORT.DOC) Crème brûlée – 日本語.txt "
            "Kitchen list march.txt XOEXT XWRD0001.TMP)")
      << "EMPTY, without a deleted file below it, is pruned";

  const ItemNode* wrd = Find(engine.treeRoot, u"XWRD0001.TMP");
  ASSERT_NE(wrd, nullptr);
  EXPECT_EQ(wrd->flags, 0);
  EXPECT_EQ(wrd->size, 1500u);
  EXPECT_EQ(wrd->id, 10u);
  EXPECT_EQ(wrd->parentId, 1u);
  EXPECT_EQ(wrd->createDate, kCreated);
  EXPECT_EQ(wrd->accessDate, kAccessed);
  const std::pair<std::u16string, int> flags[] = {{u"DOCS", 3},     {u"XLD", 2},
                                                  {u"SUB", 2},      {u"INSIDE.TXT", 0},
                                                  {u"DEEP.TXT", 0}, {u"XEPORT.DOC", 0}};
  for (const auto& [name, expected] : flags) {
    const ItemNode* node = Find(engine.treeRoot, name);
    ASSERT_NE(node, nullptr) << Utf8FromUtf16(name);
    EXPECT_EQ(node->flags, expected) << Utf8FromUtf16(name);
  }
  EXPECT_EQ(Find(engine.treeRoot, u"SUB")->parentId, 40u);
}

TEST(FatScanTest, EntriesTheParserSkipsOrStopsAt) {
  struct Case {
    const char* what;
    int bits;
    Bytes32 entry;  // followed by a deleted NEXT.TXT
    const char* tree;
  };
  const auto caseBits = [](std::uint8_t value) {
    Bytes32 e = Gone(File("?ILE    TXT", 5));
    e[12] = value;
    return e;
  };
  const char* listed = ".(XEXT.TXT XILE.TXT)";
  const char* skipped = ".(XEXT.TXT)";
  const char* ended = ".()";
  const Case cases[] = {
      {"FAT32 first cluster 2 (the root's)", 32, Gone(File("?ILE    TXT", 2)), skipped},
      {"FAT32 first cluster 3", 32, Gone(File("?ILE    TXT", 3)), listed},
      {"FAT16 first cluster 0 (an empty file)", 16, Gone(File("?ILE    TXT", 0)), skipped},
      {"FAT16 first cluster 1", 16, Gone(File("?ILE    TXT", 1)), skipped},
      {"FAT16 first cluster 2", 16, Gone(File("?ILE    TXT", 2)), listed},
      {"the last FAT entry", 16, Gone(File("?ILE    TXT", 51200)), listed},
      {"past the last FAT entry", 16, Gone(File("?ILE    TXT", 51201)), skipped},
      {"the high word counts", 32, Gone(File("?ILE    TXT", 0x20005)), skipped},
      {"attribute 0", 16, Gone(Short("?ILE    TXT", 0x00, 5)), skipped},
      {"attribute 0x07", 16, Gone(Short("?ILE    TXT", 0x07, 5)), listed},
      {"attribute 0x18 ends the folder", 16, Gone(Short("?ILE    TXT", 0x18, 5)), ended},
      {"attribute above 0x30 ends the folder", 16, Gone(Short("?ILE    TXT", 0x31, 5)), ended},
      {"first byte 0 ends the folder", 16, Short(std::string_view("\0ILE    TXT", 11), 0x20, 5),
       ended},
      {"byte 12 0x08", 16, caseBits(0x08), listed},
      {"byte 12 0x10", 16, caseBits(0x10), listed},
      {"byte 12 0x18", 16, caseBits(0x18), listed},
      {"byte 12 0x01", 16, caseBits(0x01), skipped},
      {"byte 12 0x20", 16, caseBits(0x20), skipped},
      {"byte 12 0x80", 16, caseBits(0x80), skipped},
      {"a label in the first slot, even with a cluster", 16, Short("?ILE    TXT", 0x08, 5),
       skipped},
      {"a label in the first slot, FAT32", 32, Short("?ILE    TXT", 0x08, 5), skipped},
  };
  for (const Case& c : cases) {
    FatVolume v(c.bits);
    v.Root(Dir({c.entry, Gone(File("?EXT    TXT", 6))}));
    Engine engine;
    ASSERT_TRUE(v.Open(engine)) << c.what;
    EXPECT_EQ(Scan(engine), c.tree) << c.what;
  }
}

TEST(FatScanTest, LongNames) {
  struct Case {
    const char* what;
    std::u16string stored;
    std::u16string listed;
  };
  const std::u16string longest = std::u16string(251, u'n') + u".txt";
  const Case cases[] = {
      {"a blank ends the first piece", u"Kitchen list march.txt", u"Kitchen list march.txt"},
      {"a blank starts the second piece", u"Meeting notes for march.txt",
       u"Meeting notes for march.txt"},
      {"non-ASCII units", u"Ünïcödé 名前 – résumé.txt", u"Ünïcödé 名前 – résumé.txt"},
      {"exactly 13 units, no terminator", u"ABCDEFGHI.TXT", u"ABCDEFGHI.TXT"},
      {"blanks at the end of the whole name", u"trailing.txt  ", u"trailing.txt"},
      {"255 units", longest, longest},
      {"256 units: the short name instead", longest + u"x", u"XONGNA~1.TXT"},
  };
  for (const Case& c : cases) {
    FatVolume v(16);
    v.Root(Dir({Long(c.stored), Gone(File("?ONGNA~1TXT", 10))}));
    Engine engine;
    ASSERT_TRUE(v.Open(engine)) << c.what;
    Scan(engine);
    ASSERT_NE(engine.treeRoot->firstChild, nullptr) << c.what;
    EXPECT_EQ(engine.treeRoot->firstChild->name, c.listed) << c.what;
  }
}

TEST(FatScanTest, ALongNameDoesNotCarryIntoTheNextCluster) {
  // A FAT32 root of three clusters of 128 entries. The end of the first holds
  // both long-name entries of a name whose short entry opens the second; the
  // end of the second holds two of a three-piece name whose first piece and
  // short entry open the third. Deleted empty files fill the other slots.
  FatVolume v(32);
  v.Chain({2, 3, 4});
  const auto fillers = [](int count) {
    Bytes32 out;
    for (int i = 0; i < count; ++i) {
      const Bytes32 filler = Gone(File("?ILLER  TXT", 0, 0));
      out.insert(out.end(), filler.begin(), filler.end());
    }
    return out;
  };
  const Bytes32 three = Long(u"Minutes of the weekly review call.txt");
  v.Cluster(2, Dir({fillers(126), Long(u"Meeting notes item 05.txt")}));
  v.Cluster(3, Dir({Gone(File("?EETIN~5TXT", 10)), fillers(125),
                    Bytes32(three.begin(), three.begin() + 64)}));
  v.Cluster(4, Dir({Bytes32(three.begin() + 64, three.end()), Gone(File("?INUTE~1TXT", 11))}));
  Engine engine;
  ASSERT_TRUE(v.Open(engine));
  EXPECT_EQ(Scan(engine), ".(Minutes of th XEETIN~5.TXT)");
}

TEST(FatScanTest, ADeletedFolderIsReadOnlyWhileItsFirstClusterStillHoldsIt) {
  struct Case {
    const char* what;
    int bits;
    Bytes32 cluster;  // what cluster 40 holds now
    const char* tree;
  };
  const Bytes32 file = Gone(File("?ILE    TXT", 41));
  const Case cases[] = {
      {"intact", 16, Dir({Dots(40, 0), file}), ".(XLD(XILE.TXT))"},
      {"intact, FAT32 (.. of 0 is the root)", 32, Dir({Dots(40, 0), file}), ".(XLD(XILE.TXT))"},
      {". names another cluster", 16, Dir({Dots(41, 0), file}), ".()"},
      {".. names another folder", 16, Dir({Dots(40, 7), file}), ".()"},
      {".. created on another day", 16, Dir({Dots(40, 0, kCreated + 1), file}), ".()"},
      {"now a text file's data", 16, Bytes32(2048, 'x'), ".()"},
  };
  for (const Case& c : cases) {
    FatVolume v(c.bits);
    v.Root(Gone(Folder("?LD        ", 40)));
    v.Cluster(40, c.cluster);
    Engine engine;
    ASSERT_TRUE(v.Open(engine)) << c.what;
    EXPECT_EQ(Scan(engine), c.tree) << c.what;
  }
}

TEST(FatScanTest, EntriesForTheSameFolderClusterAreReadOnce) {
  struct Case {
    const char* what;
    Bytes32 root;
    const char* tree;
    int flags;  // of the folder listed
  };
  const Bytes32 deleted = Gone(Folder("?LDNAME    ", 40));
  const Bytes32 live = Folder("NEWNAME    ", 40);
  const Case cases[] = {
      // A renamed folder: the old entry stays behind, deleted, before the new.
      {"deleted, then live: merged", Dir({deleted, live}), ".(NEWNAME(XILE.TXT))", 3},
      {"two deleted: merged under the later name", Dir({deleted, Gone(Folder("?THER      ", 40))}),
       ".(XTHER(XILE.TXT))", 2},
      // Not merged: the deleted one comes first in the walk, the live one is
      // then not read again (and pruned).
      {"live, then deleted: listed once", Dir({live, deleted}), ".(XLDNAME(XILE.TXT))", 2},
  };
  for (const Case& c : cases) {
    FatVolume v(16);
    v.Root(c.root);
    v.Cluster(40, Dir({Dots(40, 0), Gone(File("?ILE    TXT", 41))}));
    Engine engine;
    ASSERT_TRUE(v.Open(engine)) << c.what;
    EXPECT_EQ(Scan(engine), c.tree) << c.what;
    EXPECT_EQ(engine.treeRoot->firstChild->flags, c.flags) << c.what;
  }
}

TEST(FatScanTest, AFolderWhoseClusterANewFolderTookDoesNotHideTheNewOne) {
  // OLD was deleted; NEW, made later in DOCS, got its first cluster. The walk
  // meets OLD first (the last entry on disk comes first), which fails the
  // folder check; NEW must still be read.
  FatVolume v(16);
  v.Root(Dir({Folder("DOCS       ", 20), Gone(Folder("?LD        ", 30))}));
  v.Cluster(20, Dir({Dots(20, 0), Folder("NEW        ", 30, kCreated + 7)}));
  v.Cluster(30, Dir({Dots(30, 20, kCreated + 7), Gone(File("?ILE    TXT", 31))}));
  Engine engine;
  ASSERT_TRUE(v.Open(engine));
  EXPECT_EQ(Scan(engine), ".(DOCS(NEW(XILE.TXT)))");
}

TEST(FatScanTest, FolderEntriesThatPointBackDoNotLoop) {
  FatVolume v(32);
  v.Root(Dir({Folder("A          ", 10), Folder("D          ", 20)}));
  // A and B have dot entries: UP (back to A) would fail the folder check.
  v.Cluster(10, Dir({Dots(10, 0), Folder("B          ", 11)}));
  v.Cluster(11, Dir({Dots(11, 10), Folder("UP         ", 10), Gone(File("?ILE1   TXT", 12))}));
  // D and E have lost theirs: SELF and BACK are only stopped because their
  // clusters were read already.
  v.Cluster(20, Dir({Folder("SELF       ", 20), Folder("E          ", 21),
                     Gone(File("?ILE2   TXT", 22))}));
  v.Cluster(21, Dir({Folder("BACK       ", 20), Gone(File("?ILE3   TXT", 23))}));
  Engine engine;
  ASSERT_TRUE(v.Open(engine));
  EXPECT_EQ(Scan(engine), ".(D(XILE2.TXT E(XILE3.TXT)) A(B(XILE1.TXT)))");
}

TEST(FatScanTest, TheRootCarriesTheFatKindAsItsId) {
  struct Case {
    int bits;
    std::uint32_t rootId;
  };
  for (const Case& c : {Case{16, 1}, Case{32, 2}}) {
    FatVolume v(c.bits);
    v.Root(Dir({Folder("DOCS       ", 20), Gone(File("?OP     TXT", 30))}));
    v.Cluster(20, Dir({Dots(20, 0), Gone(File("?NSIDE  TXT", 21))}));
    Engine engine;
    ASSERT_TRUE(v.Open(engine));
    EXPECT_EQ(Scan(engine), ".(XOP.TXT DOCS(XNSIDE.TXT))") << "FAT" << c.bits;
    EXPECT_EQ(engine.treeRoot->id, c.rootId);
    EXPECT_EQ(engine.treeRoot->parentId, c.rootId);
    EXPECT_EQ(engine.treeRoot->firstChild->parentId, c.rootId);
    EXPECT_EQ(Find(engine.treeRoot, u"DOCS")->parentId, c.rootId) << "FAT" << c.bits;
  }
}

TEST(FatScanTest, AFat32RootFollowsItsChain) {
  FatVolume v(32);
  v.Chain({2, 9});
  Bytes32 full;
  for (int i = 0; i < 128; ++i) {
    const Bytes32 live = File("LIVE    TXT", 5);
    full.insert(full.end(), live.begin(), live.end());
  }
  v.Cluster(2, full);
  v.Cluster(9, Gone(File("?ATER   TXT", 30)));
  Engine engine;
  ASSERT_TRUE(v.Open(engine));
  EXPECT_EQ(Scan(engine), ".(XATER.TXT)");
}

TEST(FatClusterChainTest, FollowsTheFirstFat) {
  struct Case {
    const char* what;
    int bits;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> fat;
    std::uint32_t first;
    std::vector<std::uint32_t> chain;
  };
  const Case cases[] = {
      {"cleared (a deleted file)", 16, {}, 5, {5}},
      {"FAT16 chain", 16, {{5, 6}, {6, 9}, {9, 0xFFFF}}, 5, {5, 6, 9}},
      {"FAT32 chain", 32, {{5, 6}, {6, 9}, {9, 0x0FFFFFFF}}, 5, {5, 6, 9}},
      {"FAT16 end marker 0xFFF8", 16, {{5, 6}, {6, 0xFFF8}}, 5, {5, 6}},
      {"FAT32 end marker 0x0FFFFFF8", 32, {{5, 6}, {6, 0x0FFFFFF8}}, 5, {5, 6}},
      {"FAT32 upper four bits", 32, {{5, 0xF0000006}, {6, 0xFFFFFFFF}}, 5, {5, 6}},
      {"points at itself", 16, {{5, 5}}, 5, {5}},
      {"past the last FAT entry", 16, {{5, 51201}}, 5, {5}},
      {"cluster 1", 16, {{5, 1}}, 5, {5}},
      {"start cluster 1", 16, {{1, 5}}, 1, {}},
  };
  for (const Case& c : cases) {
    FatVolume v(c.bits);
    for (const auto& [cluster, value] : c.fat)
      v.Fat(cluster, value);
    Engine engine;
    ASSERT_TRUE(v.Open(engine)) << c.what;
    EXPECT_EQ(BuildClusterChain(engine, c.first), c.chain) << c.what;
  }
}

TEST(FatClusterChainTest, ALoopStopsPastTheFatEntryCount) {
  FatVolume v(16);
  v.Fat(5, 6);
  v.Fat(6, 5);
  Engine engine;
  ASSERT_TRUE(v.Open(engine));
  const std::vector<std::uint32_t> chain = BuildClusterChain(engine, 5);
  ASSERT_EQ(chain.size(), v.entryCount() + 1u);
  EXPECT_EQ((std::vector<std::uint32_t>(chain.begin(), chain.begin() + 4)),
            (std::vector<std::uint32_t>{5, 6, 5, 6}));
}

TEST(FatClusterChainTest, ReadsAFatSectorOnlyWhenItDiffersFromTheLastOne) {
  struct Case {
    const char* what;
    std::vector<std::uint32_t> chain;  // FAT16: 256 entries a sector
    int reads;
  };
  const Case cases[] = {
      {"cleared", {5}, 1},
      {"within one sector", {5, 6, 7, 200, 255}, 1},
      {"into the next sector", {5, 6, 300, 301}, 2},
      {"back and forth", {5, 300, 6, 301}, 4},
  };
  for (const Case& c : cases) {
    FatVolume v(16);
    for (std::size_t i = 0; i + 1 < c.chain.size(); ++i)
      v.Fat(c.chain[i], c.chain[i + 1]);
    if (c.chain.size() > 1) v.Fat(c.chain.back(), 0xFFFF);
    Engine engine;
    test::FakeSource* source = nullptr;
    ASSERT_TRUE(v.Open(engine, &source)) << c.what;
    const int before = source->reads();
    EXPECT_EQ(BuildClusterChain(engine, c.chain.front()), c.chain) << c.what;
    EXPECT_EQ(source->reads() - before, c.reads) << c.what;
  }
}

// Fills each cluster from `first` to `last` with its own number.
void Number(FatVolume& v, std::uint32_t first, std::uint32_t last) {
  for (std::uint32_t c = first; c <= last; ++c) {
    Bytes32 data(v.clusterBytes());
    for (std::size_t i = 0; i + 4 <= data.size(); i += 4)
      StoreLE<std::uint32_t>(data, i, c * 1000 + i / 4);
    v.Cluster(c, data);
  }
}

// The bytes of the clusters in order, cut to `size`.
Bytes32 Expected(const FatVolume& v, const std::vector<std::uint32_t>& clusters, std::size_t size) {
  Bytes32 out;
  for (const std::uint32_t c : clusters) {
    for (std::size_t i = 0; i < v.clusterBytes(); i += 4) {
      Bytes32 word(4);
      StoreLE<std::uint32_t>(word, 0, static_cast<std::uint32_t>(c * 1000 + i / 4));
      out.insert(out.end(), word.begin(), word.end());
    }
  }
  out.resize(size);
  return out;
}

TEST(FatCopyTest, FollowsTheChainOnlyWhenItFitsTheSize) {
  struct Case {
    const char* what;
    std::vector<std::uint32_t> chain;  // 4096-byte clusters
    std::uint32_t size;
    std::vector<std::uint32_t> read;
  };
  const Case cases[] = {
      {"a deleted file: consecutive clusters",
       {100},
       40000,
       {100, 101, 102, 103, 104, 105, 106, 107, 108, 109}},
      {"two cells, not adjacent", {200, 500}, 8192, {200, 500}},
      {"three cells, size within the last", {200, 500, 501}, 8193, {200, 500, 501}},
      {"three cells, size one cluster short of them", {200, 500, 501}, 8192, {200, 500}},
      {"chain longer than the size", {200, 500, 501}, 4096, {200}},
      {"chain shorter than the size", {200, 500, 501}, 12289, {200, 201, 202, 203}},
      {"one byte", {100}, 1, {100}},
  };
  for (const Case& c : cases) {
    FatVolume v(32);
    Number(v, 100, 120);
    Number(v, 200, 210);
    Number(v, 500, 510);
    if (c.chain.size() > 1) {
      for (std::size_t i = 0; i + 1 < c.chain.size(); ++i)
        v.Fat(c.chain[i], c.chain[i + 1]);
      v.Fat(c.chain.back(), 0x0FFFFFFF);
    }
    Engine engine;
    ASSERT_TRUE(v.Open(engine)) << c.what;
    ItemNode node;
    node.id = c.chain.front();
    node.size = c.size;
    const Bytes32 written = Copy(engine, node);
    EXPECT_EQ(written.size(), c.size) << c.what;
    EXPECT_TRUE(written == Expected(v, c.read, c.size)) << c.what;
  }
}

TEST(FatCopyTest, AnEmptyItemWritesNothing) {
  FatVolume v(32);
  Engine engine;
  ASSERT_TRUE(v.Open(engine));
  ItemNode node;
  node.id = 100;
  EXPECT_TRUE(Copy(engine, node).empty());
}

TEST(FatCopyTest, AnUnreadableClusterIsWrittenAsZeros) {
  FatVolume v(32);
  Number(v, 100, 103);
  Engine engine;
  test::FakeSource* source = nullptr;
  ASSERT_TRUE(v.Open(engine, &source));
  source->FailRange(v.ClusterOffset(101) + 512, 512, EIO);
  ItemNode node;
  node.id = 100;
  node.size = 3 * 4096;
  Bytes32 expected = Expected(v, {100, 101, 102}, node.size);
  std::fill_n(expected.begin() + 4096 + 512, 512, 0);
  EXPECT_TRUE(Copy(engine, node) == expected);
}

TEST(FatCopyTest, ALostDeviceIsRaised) {
  FatVolume v(32);
  Engine engine;
  test::FakeSource* source = nullptr;
  ASSERT_TRUE(v.Open(engine, &source));
  source->LoseAfter(source->reads());
  ItemNode node;
  node.id = 100;
  node.size = 5000;
  EXPECT_THROW(Copy(engine, node), DeviceLostError);
}

}  // namespace
}  // namespace restorix
