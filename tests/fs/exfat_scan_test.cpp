// exFAT entry sets built in memory (what passes, what is passed over), the
// boot region check on the committed camera card, and what a saved scan
// keeps of an exFAT item.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "catalogue/scan_info.h"
#include "disk/mount.h"
#include "disk/volume.h"
#include "fs/exfat_data.h"
#include "support/fake_source.h"
#include "support/test_support.h"
#include "util/text.h"

namespace restorix {
namespace {

using Buffer = std::vector<std::uint8_t>;

// A file's entry set: file entry, stream entry, name entries, with its set
// checksum (taken with the in-use bits set, as the file system writes it).
Buffer EntrySet(const std::u16string& name, std::uint32_t firstCluster, std::uint64_t size,
                bool deleted, bool folder = false, std::size_t nameLength = 0) {
  const std::size_t nameEntries = (name.size() + 14) / 15;
  Buffer set((2 + nameEntries) * 32, 0);
  set[0] = 0x85;
  set[1] = static_cast<std::uint8_t>(1 + nameEntries);
  StoreLE<std::uint16_t>(set, 4, folder ? 0x10 : 0x20);
  StoreLE<std::uint32_t>(set, 8, 0x5A210000);  // created 2025-01-01
  set[32] = 0xC0;
  set[33] = 0x03;  // allocation possible, no FAT chain
  set[35] = static_cast<std::uint8_t>(nameLength ? nameLength : name.size());
  StoreLE<std::uint64_t>(set, 40, size);
  StoreLE<std::uint32_t>(set, 52, firstCluster);
  StoreLE<std::uint64_t>(set, 56, size);
  for (std::size_t i = 0; i < name.size(); ++i) {
    set[64 + 32 * (i / 15)] = 0xC1;
    StoreLE<std::uint16_t>(set, 64 + 32 * (i / 15) + 2 + 2 * (i % 15), name[i]);
  }
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < set.size(); ++i)
    if (i != 2 && i != 3)
      sum = static_cast<std::uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + set[i]);
  StoreLE<std::uint16_t>(set, 2, sum);
  if (deleted)
    for (std::size_t o = 0; o < set.size(); o += 32)
      set[o] &= 0x7F;
  return set;
}

Buffer Cat(std::initializer_list<Buffer> parts) {
  Buffer all;
  for (const Buffer& p : parts)
    all.insert(all.end(), p.begin(), p.end());
  return all;
}

std::string Names(const std::vector<ExfatEntrySet>& sets) {
  std::string text;
  for (const ExfatEntrySet& s : sets)
    text += (text.empty() ? "" : " ") + std::string(s.deleted ? "-" : "+") + Utf8FromUtf16(s.name);
  return text;
}

TEST(ExfatEntrySetTest, WhichSetsOfAFolderPass) {
  const Buffer live = EntrySet(u"live.txt", 10, 100, false);
  const Buffer gone = EntrySet(u"gone.txt", 11, 200, true);
  Buffer damaged = gone;
  damaged[70] ^= 1;  // a letter of the name
  Buffer oneSecondary = EntrySet(u"a", 12, 1, true);
  oneSecondary[1] = 1;
  Buffer noStream = EntrySet(u"b", 12, 1, true);
  noStream[32] = 0x41;
  const Buffer longName = EntrySet(std::u16string(255, u'n'), 13, 5, true);
  // A deleted set of a long name whose first entries a shorter new set took.
  Buffer older = EntrySet(u"an older and longer name.txt", 14, 300, true);
  const Buffer newer = EntrySet(u"new.txt", 15, 10, false);
  std::copy(newer.begin(), newer.end(), older.begin());
  const Buffer end(32, 0);

  const struct {
    const char* what;
    Buffer folder;
    std::string expected;
  } cases[] = {
      {"live and deleted sets", Cat({live, gone}), "+live.txt -gone.txt"},
      {"a set whose checksum fails is passed over", Cat({damaged, live}), "+live.txt"},
      {"one secondary entry is no set", Cat({oneSecondary, live}), "+live.txt"},
      {"a set without its stream entry", Cat({noStream, gone}), "-gone.txt"},
      {"a set the folder's end cuts off", Buffer(gone.begin(), gone.end() - 32), ""},
      {"nothing after the end of the folder", Cat({live, end, gone}), "+live.txt"},
      {"a newer set over the start of an older one", Cat({older, gone}), "+new.txt -gone.txt"},
      {"a name longer than its name entries", EntrySet(u"abc", 16, 1, true, false, 16), ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Names(ParseExfatFolder(c.folder)), c.expected) << c.what;

  const auto sets = ParseExfatFolder(Cat({live, longName}));
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ(sets[1].name, std::u16string(255, u'n'));
  EXPECT_EQ(sets[1].offset, live.size());
  EXPECT_TRUE(sets[1].contiguous);
  EXPECT_EQ(sets[1].firstCluster, 13u);
  EXPECT_EQ(sets[1].size, 5u);
}

Buffer CardBytes() {
  return test::ReadFile(test::Fixture("exfat-card.img"));
}

OpenResult OpenBytes(Buffer bytes) {
  return Volume::Open(SourceKind::LogicalDrive,
                      std::make_shared<test::FakeSource>(std::move(bytes)), u"card");
}

TEST(ExfatBootTest, TheBootRegionIsCheckedAndItsBackupStandsIn) {
  const Buffer card = CardBytes();
  ASSERT_TRUE(LooksLikeExfat(card));
  const auto recognised = RecogniseVolume(card);
  ASSERT_TRUE(recognised);
  EXPECT_EQ(recognised->fsType(), FsType::Exfat);
  EXPECT_EQ(recognised->clusterBytes(), 4096u);

  const struct {
    const char* what;
    std::size_t at;
    std::uint8_t value;
  } unlike[] = {
      {"a FAT parameter where exFAT has zeros", 0x0B, 2},
      {"sectors of 8 KiB", 0x6C, 13},
      {"clusters past 32 MiB", 0x6D, 17},
      {"three FATs", 0x6E, 3},
      {"no root folder cluster", 0x60, 0},
  };
  for (const auto& u : unlike) {
    Buffer boot(card.begin(), card.begin() + 512);
    boot[u.at] = u.value;
    EXPECT_FALSE(LooksLikeExfat(boot)) << u.what;
  }

  Buffer mainBad = card;
  mainBad[0x71] ^= 0xFF;  // the drive number: only the checksum sees it
  const OpenResult fromBackup = OpenBytes(mainBad);
  ASSERT_TRUE(fromBackup);
  EXPECT_EQ(fromBackup.volume->context(), OpenBytes(card).volume->context());

  Buffer bothBad = mainBad;
  bothBad[12 * 512 + 0x71] ^= 0xFF;
  EXPECT_EQ(OpenBytes(bothBad).failure, OpenFailure::NotRecognised);

  // The volume flags and the share in use are left out of the checksum.
  Buffer flags = card;
  flags[0x6A] ^= 0x02;
  flags[0x70] = 99;
  EXPECT_TRUE(ExfatBootRegionOk(flags, 512));
}

TEST(ExfatScanInfoTest, ASavedScanKeepsWhereEachItemLies) {
  const auto image = test::Fixture("exfat-card.img");
  const auto volume = Volume::Open(SourceKind::LogicalDrive, image).volume;
  ASSERT_TRUE(volume);
  const test::ScanRun scan = test::ScanVolume(*volume);
  test::TempDir dir;
  ASSERT_TRUE(SaveScanInfo(dir / "card.qns", volume->sourceName(), volume->context(), scan.tree));
  const LoadResult loaded = LoadScanInfo(dir / "card.qns");
  ASSERT_TRUE(loaded.loaded && loaded.reopened);
  EXPECT_EQ(test::Render(loaded.tree.root()), test::Render(scan.tree.root()));
  std::vector<const ItemNode*> before, after;
  WalkTree(scan.tree.root(), [&](const ItemNode& n, int) { before.push_back(&n); });
  WalkTree(loaded.tree.root(), [&](const ItemNode& n, int) { after.push_back(&n); });
  ASSERT_EQ(before.size(), after.size());
  int contiguous = 0, chained = 0;
  for (std::size_t i = 0; i < before.size(); ++i) {
    const auto& was = std::get<FatChain>(before[i]->location);
    const auto& is = std::get<FatChain>(after[i]->location);
    EXPECT_EQ(is.firstCluster, was.firstCluster);
    EXPECT_EQ(is.contiguous, was.contiguous) << Utf8FromUtf16(before[i]->name);
    EXPECT_EQ(after[i]->flags, before[i]->flags);
    (was.contiguous ? contiguous : chained) += 1;
    if (!after[i]->isFolder()) {
      EXPECT_EQ(test::ReadItem(*loaded.volume, *after[i]), test::ReadItem(*volume, *before[i]));
    }
  }
  EXPECT_GT(contiguous, 0);
  EXPECT_GT(chained, 0);  // the fragmented file
}

// A saved scan reopened judges each file by what the volume says now: a
// file whose entry set is gone since the scan is overwritten.
TEST(ExfatScanInfoTest, AReopenedScanSeesAnEntrySetGone) {
  test::TempDir dir;
  Buffer card = CardBytes();
  test::WriteFile(dir / "card.img", card);
  const auto volume = Volume::Open(SourceKind::LogicalDrive, dir / "card.img").volume;
  ASSERT_TRUE(volume);
  const test::ScanRun scan = test::ScanVolume(*volume);
  ASSERT_TRUE(SaveScanInfo(dir / "card.qns", volume->sourceName(), volume->context(), scan.tree));

  // The photo's name in its folder's entries (UTF-16): one letter changed.
  const std::u16string name = u"IMG_0002.JPG";
  const Buffer units(reinterpret_cast<const std::uint8_t*>(name.data()),
                     reinterpret_cast<const std::uint8_t*>(name.data() + name.size()));
  const auto at = std::search(card.begin(), card.end(), units.begin(), units.end());
  ASSERT_NE(at, card.end());
  *at = 'J';
  test::WriteFile(dir / "card.img", card);

  const LoadResult loaded = LoadScanInfo(dir / "card.qns");
  ASSERT_TRUE(loaded.reopened);
  std::map<std::string, Recoverable> states;
  WalkTree(loaded.tree.root(), [&](const ItemNode& n, int) {
    if (!n.isFolder()) states[Utf8FromUtf16(n.name)] = n.recoverable.state;
  });
  EXPECT_EQ(states.at("IMG_0002.JPG"), Recoverable::Overwritten);
  EXPECT_EQ(states.at("IMG_0004.JPG"), Recoverable::Intact);
  EXPECT_EQ(states.at("reused half.dat"), Recoverable::Partial);
}

}  // namespace
}  // namespace restorix
