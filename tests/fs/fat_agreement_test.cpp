// The FAT scan and CopyFatItem against The Sleuth Kit on volumes that
// tests/fixtures/make-fat-volume.sh makes at test time: every deleted file
// fls finds must be an item with its name, folder and size, written with the
// bytes icat reads, unless a rule written here says otherwise.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>

#include "disk/volume.h"
#include "fs/fat_data.h"
#include "fs/fat_scan.h"
#include "fs/scan.h"
#include "support/test_support.h"
#include "support/tsk.h"
#include "util/text.h"

namespace restorix {
namespace {

struct TskFile {
  std::uint64_t address = 0, size = 0;  // of the short entry
  std::string path, shortName;          // the path from the root, with long names
  std::vector<std::uint64_t> sectors;   // what icat reads, in order
};

// The deleted regular files of `fls -r -d -p` with what istat says of them,
// each entry once (a renamed folder's old and new entries lead to the same).
std::vector<TskFile> DeletedFiles(const test::TskVolume& volume) {
  std::vector<TskFile> files;
  std::set<std::uint64_t> seen;
  std::istringstream lines(test::RunOk("fls -r -d -p " + volume.Args()));
  for (std::string line; std::getline(lines, line);) {
    // "r/r * 1191:\tLong names/Meeting notes item 01.txt"
    const auto star = line.find(" * "), tab = line.find('\t');
    if (line.size() < 3 || line[2] != 'r' || star == std::string::npos || tab == std::string::npos)
      continue;
    TskFile f{std::stoull(line.substr(star + 3)), 0, line.substr(tab + 1), {}, {}};
    if (!seen.insert(f.address).second) continue;
    std::istringstream stat(
        test::RunOk("istat " + volume.Args() + " " + std::to_string(f.address)));
    bool inSectors = false;
    for (std::string s; std::getline(stat, s);) {
      if (s.rfind("Size: ", 0) == 0) f.size = std::stoull(s.substr(6));
      if (s.rfind("Name: ", 0) == 0) f.shortName = s.substr(6);
      std::istringstream numbers(inSectors ? s : "");
      for (std::uint64_t n = 0; numbers >> n;)
        if (n != 0) f.sectors.push_back(n);  // sector 0 pads the last line
      inSectors = inSectors || s.rfind("Sectors:", 0) == 0;
    }
    files.push_back(std::move(f));
  }
  return files;
}

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

// The name the scan must give the file (empty: its short name), and whether a
// rule made it differ from TSK's. Rule: a long name never carries over from
// one cluster to the next; of one whose entries begin in the cluster before
// the short entry's, only the pieces in the short entry's cluster count.
std::pair<std::u16string, bool> ExpectedName(const Volume& engine, const TskFile& f) {
  std::u16string name = Utf16FromUtf8(f.path.substr(f.path.rfind('/') + 1));
  if (ShortNameFits(name, f.shortName)) return {};  // no long name
  // TSK counts 32-byte slots from the first sector after the FATs, from 3 on;
  // the fixed FAT16 root before cluster 2 is read in one piece.
  const VolumeContext& c = engine.context();
  const std::uint64_t perSector = c.bytesPerSector() / 32,
                      clusters = FatClusterSector(c, 2).value_or(0);
  const std::uint64_t sector = c.dataStart() + (f.address - 3) / perSector;
  const std::uint64_t slot =
      (sector - clusters) % c.sectorsPerCluster() * perSector + (f.address - 3) % perSector;
  if (sector < clusters || slot >= (name.size() + 12) / 13) return {name, false};
  name.resize(13 * slot);
  while (!name.empty() && name.back() == u' ')
    name.pop_back();
  return {name, true};
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

class FatAgreementTest : public testing::TestWithParam<std::tuple<int, int, int>> {};

TEST_P(FatAgreementTest, EveryDeletedFileIsFoundWithTheBytesIcatReads) {
  for (const char* tool : {"mkfs.fat", "mcopy", "python3", "fls", "istat", "icat"})
    if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
  const auto [bits, sectorsPerCluster, sectorBytes] = GetParam();
  test::TempDir dir;
  const test::TskVolume tsk{dir / "volume.img", 0};
  test::RunOk(test::Quote(test::SourceFixture("make-fat-volume.sh").string()) + " " +
              std::to_string(bits) + " " + std::to_string(sectorsPerCluster) + " " +
              test::Quote(tsk.image.string()) + " " + std::to_string(sectorBytes));
  const auto volume = Volume::Open(SourceKind::LogicalDrive, tsk.image).volume;
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
  for (const TskFile& f : DeletedFiles(tsk)) {
    ++files;
    // Rule: TSK finds orphan entries by reading every cluster as a folder; the
    // scan reads only the folders it reaches from the root. Rule: an empty
    // file has first cluster 0 and is never listed.
    if (f.path.rfind("$OrphanFiles/", 0) == 0 || f.size == 0) {
      ++explained;
      continue;
    }
    const auto [name, byRule] = ExpectedName(engine, f);
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
    const auto written = test::ReadItem(engine, item);
    const std::string ours(written.begin(), written.end());
    const std::string theirs = test::RunOk("icat " + tsk.Args() + " " + std::to_string(f.address));
    // Rule: TSK steps over clusters that are allocated now, so where its
    // sectors are not one run the file's clusters were not consecutive (or are
    // taken). The scan reads consecutive clusters from the first, so only the
    // first cluster is compared.
    bool oneRun = f.sectors.size() * sectorBytes >= f.size;
    for (std::size_t i = 1; i < f.sectors.size(); ++i)
      oneRun = oneRun && f.sectors[i] == f.sectors[i - 1] + 1;
    const std::size_t n = std::min<std::size_t>(engine.context().clusterBytes(), f.size);
    const bool same =
        ours.size() == f.size && (oneRun ? ours == theirs : ours.compare(0, n, theirs, 0, n) == 0);
    const bool folder = FoldersFit(item, f.path);
    EXPECT_TRUE(folder) << "in another folder: " << about;
    EXPECT_TRUE(same) << "other bytes: " << about;
    ++(!folder || !same ? wrong : oneRun && !byRule ? identical : explained);
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

// FAT bits, sectors a cluster, bytes a sector
INSTANTIATE_TEST_SUITE_P(FatVolumes, FatAgreementTest,
                         testing::Values(std::tuple(16, 4, 512), std::tuple(16, 64, 512),
                                         std::tuple(32, 1, 512), std::tuple(32, 8, 512),
                                         std::tuple(16, 2, 4096), std::tuple(32, 1, 4096)));

}  // namespace
}  // namespace restorix
