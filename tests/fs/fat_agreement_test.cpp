// The FAT scan and its item reader against The Sleuth Kit on volumes that
// tests/fixtures/make-fat-volume.sh makes at test time: every deleted file
// fls finds must be an item with its name, folder and size, written with the
// bytes icat reads, unless a rule written here says otherwise. The volumes
// come out byte for byte the same on every run, so TSK's answers are the
// recorded ones (tests/fixtures/tsk-answers/) but on one FAT16 and one FAT32
// layout, where it is asked now, so that a change of TSK shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>

#include "disk/volume.h"
#include "fs/fat_data.h"
#include "fs/fat_scan.h"
#include "fs/scan.h"
#include "support/test_support.h"
#include "support/tsk.h"
#include "util/text.h"

namespace restorix {
namespace {

// TSK shows a short name with its case bits applied, a deleted entry's lost
// first letter as '_' and a byte above 0x7F as '^'; the scan applies no case
// bits, shows 'X' and takes each byte as one unit.
bool ShortNameFits(const std::u16string& ours, std::string tsk) {
  std::string mine;
  for (const char16_t u : ours)
    mine += u >= 0x80 ? '^' : static_cast<char>(std::toupper(u));
  for (char& c : tsk)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (!mine.empty() && mine[0] == 'X' && tsk[0] == '_') tsk[0] = 'X';
  return mine == tsk;
}
bool Fits(const std::u16string& ours, const std::string& tsk) {
  return ours == Utf16FromUtf8(tsk) || ShortNameFits(ours, tsk);
}

// The name the scan must give the file; empty when it is its short name.
std::u16string ExpectedName(const test::TskFile& f) {
  std::u16string name = Utf16FromUtf8(f.path.substr(f.path.rfind('/') + 1));
  return ShortNameFits(name, f.shortName) ? std::u16string() : name;
}

// The folders above the item against those of TSK's path.
bool FoldersFit(const ItemNode& item, std::string path) {
  const ItemNode* folder = item.parent;
  for (auto cut = path.rfind('/'); cut != std::string::npos; cut = path.rfind('/')) {
    path.resize(cut);
    if (!folder || !Fits(folder->name, path.substr(path.rfind('/') + 1))) return false;
    folder = folder->parent;
  }
  return folder && !folder->parent;
}

struct FatVolume {
  int bits, sectorsPerCluster, sectorBytes;
  bool live;  // TSK asked now, not its answers recorded as Name().tsv
  std::string Name() const {
    return "fat" + std::to_string(bits) + "-" + std::to_string(sectorsPerCluster) + "x" +
           std::to_string(sectorBytes);
  }
};

class FatAgreementTest : public testing::TestWithParam<FatVolume> {};

TEST_P(FatAgreementTest, EveryDeletedFileIsFoundWithTheBytesIcatReads) {
  for (const char* tool : {"mkfs.fat", "mcopy", "python3"})
    if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
  const auto [bits, sectorsPerCluster, sectorBytes, live] = GetParam();
  test::TempDir dir;
  const auto image = dir / "volume.img";
  test::RunOk(test::Quote(test::SourceFixture("make-fat-volume.sh").string()) + " " +
              std::to_string(bits) + " " + std::to_string(sectorsPerCluster) + " " +
              test::Quote(image.string()) + " " + std::to_string(sectorBytes));
  test::FatAnswers tsk;
  if (!live) tsk = test::RecordedFatAnswers(GetParam().Name());
  if (live || tsk.image != test::Sha256OfFile(image)) {
    // Other versions of mkfs.fat or mtools may lay the volume out otherwise.
    if (!live)
      std::printf("[ agreement ] %s: not the volume of the recorded answers, asking TSK\n",
                  GetParam().Name().c_str());
    for (const char* tool : {"fls", "istat", "icat"})
      if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
    tsk = test::AskTskFat(image);
  }
  const auto volume = Volume::Open(SourceKind::LogicalDrive, image).volume;
  ASSERT_TRUE(volume);
  const Volume& engine = *volume;
  ASSERT_EQ(engine.context().fsType(), bits == 16 ? FsType::Fat16 : FsType::Fat32);
  ASSERT_EQ(engine.context().sectorsPerCluster(), sectorsPerCluster);
  const test::ScanRun scan = test::ScanVolume(engine);
  ASSERT_TRUE(scan.completed);

  std::multimap<std::uint64_t, const ItemNode*> items;  // deleted files by first sector
  WalkTree(scan.tree.root(), [&](const ItemNode& node, int) {
    if (!node.isFolder() && !node.isLive())
      items.emplace(FatClusterSector(engine.context(), node.id).value_or(0), &node);
  });
  int files = 0, identical = 0, explained = 0, wrong = 0;
  for (const test::TskFile& f : tsk.deleted) {
    ++files;
    // Rule: TSK finds orphan entries by reading every cluster as a folder; the
    // scan reads only the folders it reaches from the root. Rule: an empty
    // file has first cluster 0 and is never listed.
    if (f.path.rfind("$OrphanFiles/", 0) == 0 || f.size == 0) {
      ++explained;
      continue;
    }
    const std::u16string name = ExpectedName(f);
    auto [match, end] = items.equal_range(f.sectors.empty() ? 0 : f.sectors[0]);
    while (match != end && (match->second->size != f.size ||
                            !(name.empty() ? ShortNameFits(match->second->name, f.shortName)
                                           : match->second->name == name)))
      ++match;
    const std::string about = f.path + " (entry " + std::to_string(f.address) + ")";
    EXPECT_TRUE(match != end) << "not listed: " << about;
    wrong += match == end;
    if (match == end) continue;
    const ItemNode& item = *match->second;
    items.erase(match);
    auto ours = test::ReadItem(engine, item);
    // Rule: TSK steps over clusters that are allocated now, so where its
    // sectors are not one run the file's clusters were not consecutive (or are
    // taken). The scan reads consecutive clusters from the first, so only the
    // first cluster is compared.
    bool oneRun = f.sectors.size() * sectorBytes >= f.size;
    for (std::size_t i = 1; i < f.sectors.size(); ++i)
      oneRun = oneRun && f.sectors[i] == f.sectors[i - 1] + 1;
    const std::size_t n = std::min<std::size_t>(engine.context().clusterBytes(), f.size);
    bool same = ours.size() == f.size;
    if (same && !oneRun) ours.resize(n);
    same = same && test::Sha256Of(ours) == (oneRun ? f.icat : f.icatHead);
    const bool folder = FoldersFit(item, f.path);
    EXPECT_TRUE(folder) << "in another folder: " << about;
    EXPECT_TRUE(same) << "other bytes: " << about;
    ++(!folder || !same ? wrong : oneRun ? identical : explained);
  }
  for (const auto& [sector, node] : items) {
    ADD_FAILURE() << "listed, but not a deleted file to TSK: " << Utf8FromUtf16(node->name);
    ++wrong;
  }
  std::printf(
      "[ agreement ] FAT%d, %4d-byte sectors, %5d-byte clusters: deleted files %d  identical %d  "
      "explained %d  wrong %d\n",
      bits, sectorBytes, sectorsPerCluster * sectorBytes, files, identical, explained, wrong);
  EXPECT_GT(identical, 0);
}

// FAT bits, sectors a cluster, bytes a sector, TSK asked now
INSTANTIATE_TEST_SUITE_P(FatVolumes, FatAgreementTest,
                         testing::Values(FatVolume{16, 4, 512, true}, FatVolume{16, 64, 512, false},
                                         FatVolume{32, 1, 512, false}, FatVolume{32, 8, 512, true},
                                         FatVolume{16, 2, 4096, false},
                                         FatVolume{32, 1, 4096, false}),
                         [](const auto& info) {
                           std::string name = info.param.Name();
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

}  // namespace
}  // namespace restorix
