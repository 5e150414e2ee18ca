// Format Recovery of volumes quick-formatted after a tree was written (the
// old folders rebuilt from the data area, checked against the tree written
// and against tsk_recover), and of planted folder clusters that loop, name a
// parent past the volume or fail their checksums.
#include "fs/lost_folders.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>

#include "catalogue/scan_info.h"
#include "catalogue/stale_check.h"
#include "disk/volume.h"
#include "fs/fat_data.h"
#include "fs/item_reader.h"
#include "signature/signature_file.h"
#include "support/test_support.h"
#include "support/tsk.h"
#include "util/text.h"

namespace restorix {
namespace {

namespace fs = std::filesystem;
using Buffer = std::vector<std::uint8_t>;

std::vector<SignatureRecord> AllTypes() {
  std::ifstream tsv(test::SourceFixture("../../data/signatures.tsv"));
  return ParseSignatureTable(tsv);
}

const ItemNode* LostFolders(const ItemTree& tree) {
  for (const ItemNode* c = tree.root()->firstChild; c; c = c->next)
    if (c->name == kLostFoldersName) return c;
  return nullptr;
}

std::optional<std::uint64_t> FirstSector(const Volume& volume, const ItemNode& item) {
  const ItemReader reader(volume, item);
  if (reader.map().segments.empty()) return std::nullopt;
  return reader.map().segments.front().sector;
}

class QuickFormatTest : public ::testing::TestWithParam<const char*> {};

TEST_P(QuickFormatTest, TheOldTreeComesBackByName) {
  const std::string kind = GetParam();
  test::TempDir dir;
  const fs::path image = dir / "volume.img", written = dir / "tree";
  const test::CommandResult made =
      test::Run(test::Quote(test::SourceFixture("make-formatted-volume.sh").string()) + " " + kind +
                " " + test::Quote(image) + " " + test::Quote(written));
  if (made.exitCode == 77) GTEST_SKIP() << made.err;
  ASSERT_EQ(made.exitCode, 0) << made.err;
  const auto volume = Volume::Open(SourceKind::LogicalDrive, image).volume;
  ASSERT_TRUE(volume);
  const test::ScanRun scan = test::ScanVolume(*volume, ScanMode::Format, AllTypes());
  ASSERT_TRUE(scan.completed);

  std::map<std::string, const ItemNode*> named;
  std::set<std::uint64_t> carved;
  WalkTree(scan.tree.root(), [&](const ItemNode& n, int) {
    if (n.isFolder()) return;
    if (const auto* at = std::get_if<Carved>(&n.location)) {
      carved.insert(at->firstSector);
    } else {
      named[Utf8FromUtf16(n.name)] = &n;
    }
  });
  // Every file written comes back whole under its long name (but frag.bin,
  // where its clusters do not follow one another: read in a row they are
  // not all its own).
  std::set<std::string> whole;
  for (const auto& file : fs::recursive_directory_iterator(written)) {
    if (!file.is_regular_file()) continue;
    // A name that fits 8.3 has no long name: the short one is listed as it
    // is stored, in capitals.
    std::string name = file.path().filename();
    auto found = named.find(name);
    if (found == named.end()) {
      std::transform(name.begin(), name.end(), name.begin(), ::toupper);
      found = named.find(name);
    }
    ASSERT_NE(found, named.end()) << name;
    const Buffer bytes = test::ReadFile(file.path());
    if (test::ReadItem(*volume, *found->second) == bytes) {
      whole.insert(test::Sha256Of(bytes));
    } else {
      EXPECT_EQ(file.path().filename(), "frag.bin") << "not whole";
    }
    // Listed once: by name, not carved again.
    EXPECT_FALSE(carved.contains(FirstSector(*volume, *found->second).value_or(~0ull))) << name;
  }
  const ItemNode* deep = named.at("a very long file name that needs many entries.bin");
  EXPECT_TRUE(Utf8FromUtf16(ItemPath(*deep)).starts_with("Lost Folders/#"));
  EXPECT_TRUE(
      Utf8FromUtf16(ItemPath(*deep)).ends_with("/Archive 2024/Deep/" + Utf8FromUtf16(deep->name)));

  // Every file that tsk_recover gets back whole from the old folders,
  // Restorix gets too.
  if (kind != "exfat" && test::HaveTool("tsk_recover")) {
    std::set<std::string> written;
    for (const auto& file : fs::recursive_directory_iterator(dir / "tree"))
      if (file.is_regular_file()) written.insert(test::Sha256OfFile(file.path()));
    test::RunOk("tsk_recover -e " + test::Quote(image) + " " + test::Quote(dir / "tsk"));
    for (const auto& file : fs::recursive_directory_iterator(dir / "tsk")) {
      const std::string sum = file.is_regular_file() ? test::Sha256OfFile(file.path()) : "";
      if (written.contains(sum)) {
        EXPECT_TRUE(whole.contains(sum)) << file.path();
      }
    }
  }

  // Saved and opened again: the same tree, the same bytes, nothing taken for
  // changed (the recovery writer would skip it).
  ASSERT_TRUE(SaveScanInfo(dir / "scan.qns", volume->sourceName(), volume->context(), scan.tree));
  const LoadResult loaded = LoadScanInfo(dir / "scan.qns");
  ASSERT_TRUE(loaded.loaded && loaded.reopened);
  EXPECT_EQ(test::Render(loaded.tree.root()), test::Render(scan.tree.root()));
  StaleItemCheck stale(*loaded.volume, AllTypes());
  WalkTree(loaded.tree.root(), [&](const ItemNode& n, int) {
    if (n.isFolder() || n.isCarved()) return;
    const auto before = named.at(Utf8FromUtf16(n.name));
    EXPECT_EQ(test::ReadItem(*loaded.volume, n), test::ReadItem(*volume, *before)) << n.name.size();
    EXPECT_FALSE(stale.Changed(n)) << Utf8FromUtf16(n.name);
    EXPECT_NE(n.recoverable.state, Recoverable::Overwritten) << Utf8FromUtf16(n.name);
  });
}

INSTANTIATE_TEST_SUITE_P(Volumes, QuickFormatTest, ::testing::Values("fat16", "fat32", "exfat"));

// 32-byte FAT entries.
Buffer ShortEntry(const std::string& name11, std::uint8_t attribute, std::uint32_t cluster,
                  std::uint32_t size) {
  Buffer e(32, 0);
  std::copy(name11.begin(), name11.end(), e.begin());
  e[11] = attribute;
  StoreLE<std::uint16_t>(e, 20, static_cast<std::uint16_t>(cluster >> 16));
  StoreLE<std::uint16_t>(e, 26, static_cast<std::uint16_t>(cluster));
  StoreLE<std::uint32_t>(e, 28, size);
  return e;
}

// A sub-folder's first cluster: "." and "..", then `entries`.
Buffer FolderCluster(std::uint32_t self, std::uint32_t parent,
                     std::initializer_list<Buffer> entries, std::size_t clusterBytes) {
  Buffer c = test::Cat(
      {ShortEntry(".          ", 0x10, self, 0), ShortEntry("..         ", 0x10, parent, 0)});
  for (const Buffer& e : entries)
    c.insert(c.end(), e.begin(), e.end());
  c.resize(clusterBytes, 0);
  return c;
}

void Plant(Buffer& image, const Volume& volume, std::uint32_t cluster, const Buffer& bytes) {
  const std::uint64_t at = *FatClusterSector(volume.context(), cluster) * 512;
  std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
}

std::string LostTree(const Buffer& image) {
  test::TempDir dir;
  test::WriteFile(dir / "v.img", image);
  const auto volume = Volume::Open(SourceKind::LogicalDrive, dir / "v.img").volume;
  const test::ScanRun scan = test::ScanVolume(*volume, ScanMode::Format);
  EXPECT_TRUE(scan.completed);
  const ItemNode* lost = LostFolders(scan.tree);
  return lost ? test::Render(lost) : "";
}

TEST(LostFoldersTest, PlantedFatFoldersThatLieStopAndHangUnderLostFolders) {
  test::TempDir dir;
  test::MakeVolume(dir / "v.img", 64 << 20, "mkfs.fat -F 32 -s 1");
  Buffer image = test::ReadFile(dir / "v.img");
  const auto volume = Volume::Open(SourceKind::LogicalDrive, dir / "v.img").volume;
  ASSERT_TRUE(volume);
  const std::size_t k = volume->context().clusterBytes();
  // 100 and 101 name each other as parent and as sub-folder.
  Plant(
      image, *volume, 100,
      FolderCluster(
          100, 101,
          {ShortEntry("A       TXT", 0x20, 300, 10), ShortEntry("SUBB       ", 0x10, 101, 0)}, k));
  Plant(
      image, *volume, 101,
      FolderCluster(
          101, 100,
          {ShortEntry("B       TXT", 0x20, 301, 10), ShortEntry("SUBA       ", 0x10, 100, 0)}, k));
  // Its own parent; a parent past the volume's last cluster.
  Plant(image, *volume, 110,
        FolderCluster(110, 110, {ShortEntry("C       TXT", 0x20, 302, 10)}, k));
  Plant(image, *volume, 120,
        FolderCluster(120, 0x0FFFFFF0, {ShortEntry("D       TXT", 0x20, 303, 10)}, k));
  // A long name whose checksum is not its short entry's.
  Buffer piece(32, 0);
  piece[0] = 0x41;
  piece[11] = 0x0F;
  piece[13] = 0x55;
  for (int i = 0; i < 5; ++i)
    StoreLE<std::uint16_t>(piece, 1 + 2 * i, u"wrong"[i]);
  StoreLE<std::uint16_t>(piece, 14, 0);
  Plant(image, *volume, 130,
        FolderCluster(130, 0, {piece, ShortEntry("RIGHT   TXT", 0x20, 304, 10)}, k));
  // A later cluster of the old root names a folder whose ".." is the root.
  Buffer rootPart = ShortEntry("TOP        ", 0x10, 141, 0);
  rootPart.resize(k, 0);
  Plant(image, *volume, 140, rootPart);
  Plant(image, *volume, 141, FolderCluster(141, 0, {ShortEntry("E       TXT", 0x20, 305, 10)}, k));
  EXPECT_EQ(LostTree(image),
            "Lost Folders+(#100(SUBB(B.TXT) A.TXT) #110(C.TXT) #120(D.TXT) #130(RIGHT.TXT) "
            "#140(TOP(E.TXT)))");
}

// An exFAT entry set with its checksum.
Buffer EntrySet(const std::u16string& name, std::uint32_t firstCluster, std::uint64_t size,
                bool folder) {
  Buffer set(96, 0);
  set[0] = 0x85;
  set[1] = 2;
  StoreLE<std::uint16_t>(set, 4, folder ? 0x10 : 0x20);
  set[32] = 0xC0;
  set[33] = 0x03;
  set[35] = static_cast<std::uint8_t>(name.size());
  StoreLE<std::uint64_t>(set, 40, size);
  StoreLE<std::uint32_t>(set, 52, firstCluster);
  StoreLE<std::uint64_t>(set, 56, size);
  set[64] = 0xC1;
  for (std::size_t i = 0; i < name.size(); ++i)
    StoreLE<std::uint16_t>(set, 66 + 2 * i, name[i]);
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < set.size(); ++i)
    if (i != 2 && i != 3)
      sum = static_cast<std::uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + set[i]);
  StoreLE<std::uint16_t>(set, 2, sum);
  return set;
}

TEST(LostFoldersTest, PlantedExfatSetsThatLoopOrFailTheirChecksumsStop) {
  test::TempDir dir;
  test::MakeVolume(dir / "v.img", 8 << 20, "mkfs.exfat -c 4K");
  Buffer image = test::ReadFile(dir / "v.img");
  const auto volume = Volume::Open(SourceKind::LogicalDrive, dir / "v.img").volume;
  ASSERT_TRUE(volume);
  // 100 and 101 name each other as sub-folders.
  Plant(image, *volume, 100,
        test::Cat({EntrySet(u"a.txt", 300, 10, false), EntrySet(u"sub b", 101, 4096, true)}));
  Plant(image, *volume, 101,
        test::Cat({EntrySet(u"b.txt", 301, 10, false), EntrySet(u"sub a", 100, 4096, true)}));
  Buffer damaged = EntrySet(u"bad.txt", 302, 10, false);
  damaged[70] ^= 1;
  Plant(image, *volume, 110, damaged);
  EXPECT_EQ(LostTree(image), "Lost Folders+(#100(a.txt sub b(b.txt)))");
}

}  // namespace
}  // namespace restorix
