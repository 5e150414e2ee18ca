// The FAT scan and CopyFatItem against The Sleuth Kit on volumes that
// mkfs.fat and mtools make at test time (tests/fixtures/make-fat-volume.sh):
// every deleted file that fls finds must be an item with its name, folder and
// size, and the bytes written for it must be the bytes icat reads. A file
// left out, or read differently, must be so by a rule written here.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "engine.h"
#include "fs/fat_scan.h"
#include "fs/scan.h"
#include "support/test_support.h"
#include "support/tsk.h"
#include "util/text.h"

namespace restorix {
namespace {

struct Volume {
  const char* name;
  int bits;
  int sectorsPerCluster;
};

void PrintTo(const Volume& v, std::ostream* out) {
  *out << v.name;
}

struct Agreement {
  int deletedFiles = 0, identical = 0, explained = 0, wrong = 0;
};

// A deleted file as fls and istat show it.
struct TskFile {
  std::uint64_t address = 0;  // TSK's address of the short entry
  std::string path;           // from the root, the long name where there is one
  std::uint64_t size = 0;
  std::string shortName;
  std::vector<std::uint64_t> sectors;  // what icat reads, in order
};

std::filesystem::path Script() {
  return std::filesystem::path(__FILE__).parent_path().parent_path() / "fixtures" /
         "make-fat-volume.sh";
}

TskFile IstatFile(const test::TskVolume& volume, std::uint64_t address) {
  TskFile file;
  file.address = address;
  std::istringstream lines(test::RunOk("istat " + volume.Args() + " " + std::to_string(address)));
  std::string line;
  bool inSectors = false;
  while (std::getline(lines, line)) {
    if (line.rfind("Size: ", 0) == 0) file.size = std::stoull(line.substr(6));
    if (line.rfind("Name: ", 0) == 0) file.shortName = line.substr(6);
    if (inSectors) {
      std::istringstream numbers(line);
      std::uint64_t sector = 0;
      // Sector 0 (the boot sector) only pads the last line.
      while (numbers >> sector) {
        if (sector != 0) file.sectors.push_back(sector);
      }
    }
    if (line.rfind("Sectors:", 0) == 0) inSectors = true;
  }
  return file;
}

// The deleted regular files of `fls -r -d -p`, each entry once (two folder
// entries for one cluster, such as a renamed folder's old and new one, can
// lead to the same entries twice).
std::vector<TskFile> DeletedFiles(const test::TskVolume& volume) {
  std::istringstream lines(test::RunOk("fls -r -d -p " + volume.Args()));
  std::vector<TskFile> files;
  std::set<std::uint64_t> seen;
  std::string line;
  while (std::getline(lines, line)) {
    // "r/r * 1191:\tLong names/Meeting notes item 01.txt"
    const auto star = line.find(" * ");
    const auto tab = line.find('\t');
    if (line.size() < 3 || line[2] != 'r' || star == std::string::npos || tab == std::string::npos)
      continue;
    const std::uint64_t address = std::stoull(line.substr(star + 3));
    if (!seen.insert(address).second) continue;
    TskFile file = IstatFile(volume, address);
    file.path = line.substr(tab + 1);
    files.push_back(std::move(file));
  }
  return files;
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
}

// TSK shows a short name with its case bits applied, the lost first letter
// of a deleted entry as '_' and a byte above 0x7F as '^'. The scan applies
// no case bits, shows the lost letter as 'X' and takes each byte as one unit
// without a code page.
bool ShortNameFits(const std::u16string& ours, const std::string& tsk) {
  if (ours.size() != tsk.size()) return false;
  for (std::size_t i = 0; i < ours.size(); ++i) {
    const char16_t unit = ours[i];
    const char t = tsk[i];
    if (i == 0 && unit == u'X' && t == '_') continue;
    if (unit >= 0x80 && unit <= 0xFF && t == '^') continue;
    if (unit > 0x7F || std::toupper(unit) != std::toupper(static_cast<unsigned char>(t)))
      return false;
  }
  return true;
}

bool ComponentFits(const std::u16string& ours, const std::string& tsk) {
  return ours == Utf16FromUtf8(tsk) || ShortNameFits(ours, tsk);
}

// The index of an entry among the 32-byte entries of its cluster, from TSK's
// address (slots counted from the first sector after the FATs, from 3 on);
// nothing for an entry of the fixed FAT16 root, which is read in one piece.
std::optional<std::uint64_t> SlotInCluster(const Engine& engine, std::uint64_t address) {
  const VolumeContext& c = engine.context;
  const std::uint64_t perSector = c.bytesPerSector() / 32;
  const std::uint64_t sector = c.dataStart() + (address - 3) / perSector;
  const std::uint64_t clusters = FatClusterSector(engine, 2);
  if (sector < clusters) return std::nullopt;
  return (sector - clusters) % c.sectorsPerCluster() * perSector + (address - 3) % perSector;
}

struct ExpectedName {
  std::u16string longName;  // empty: the short name
  bool byRule = false;
};

// The name the scan must give the file.
ExpectedName NameFor(const Engine& engine, const TskFile& file) {
  const std::string tskName = file.path.substr(file.path.rfind('/') + 1);
  if (SameIgnoringCase(tskName, file.shortName)) return {};  // no long name
  std::u16string name = Utf16FromUtf8(tskName);
  const std::uint64_t pieces = (name.size() + 12) / 13;
  const auto slot = SlotInCluster(engine, file.address);
  if (!slot || *slot >= pieces) return {name, false};
  // Rule: a long name never carries over from one cluster to the next. When
  // its entries begin in the cluster before the short entry's, only the
  // pieces in the short entry's cluster (the first ones) are taken, and with
  // none there the short name stands.
  name.resize(13 * *slot);
  while (!name.empty() && name.back() == u' ')
    name.pop_back();
  return {name, true};
}

bool NameFits(const ItemNode& item, const TskFile& file, const ExpectedName& expected) {
  return expected.longName.empty() ? ShortNameFits(item.name, file.shortName)
                                   : item.name == expected.longName;
}

// The folders above the item against those of TSK's path.
bool FolderFits(const ItemNode& item, const std::string& path) {
  std::vector<std::string> tsk;
  std::istringstream parts(path);
  for (std::string part; std::getline(parts, part, '/');)
    tsk.push_back(part);
  tsk.pop_back();
  std::vector<const ItemNode*> ours;
  for (const ItemNode* p = item.parent; p != nullptr && p->parent != nullptr; p = p->parent)
    ours.insert(ours.begin(), p);
  if (ours.size() != tsk.size()) return false;
  for (std::size_t i = 0; i < tsk.size(); ++i) {
    if (!ComponentFits(ours[i]->name, tsk[i])) return false;
  }
  return true;
}

std::vector<std::uint8_t> Written(Engine& engine, const ItemNode& item,
                                  const std::filesystem::path& path) {
  {
    const UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    CopyFatItem(engine, item, fd.get());
  }
  return test::ReadFile(path);
}

bool OneRun(const std::vector<std::uint64_t>& sectors) {
  for (std::size_t i = 1; i < sectors.size(); ++i) {
    if (sectors[i] != sectors[i - 1] + 1) return false;
  }
  return true;
}

std::string Describe(const TskFile& file) {
  return file.path + " (entry " + std::to_string(file.address) + ", " + std::to_string(file.size) +
         " bytes)";
}

class FatAgreementTest : public testing::TestWithParam<Volume> {};

TEST_P(FatAgreementTest, EveryDeletedFileIsFoundWithTheBytesIcatReads) {
  for (const char* tool : {"mkfs.fat", "mcopy", "python3", "fls", "istat", "icat"}) {
    if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
  }
  const Volume& v = GetParam();
  test::TempDir dir;
  const auto image = dir / "volume.img";
  test::RunOk(test::Quote(Script().string()) + " " + std::to_string(v.bits) + " " +
              std::to_string(v.sectorsPerCluster) + " " + test::Quote(image.string()));
  const test::TskVolume tsk{image, 0};

  Engine engine;
  ASSERT_TRUE(engine.OpenSource(SOURCE_LOGICAL_DRIVE, image));
  ASSERT_EQ(engine.context.fsType(), v.bits == 16 ? FS_FAT16 : FS_FAT32);
  ASSERT_EQ(engine.context.sectorsPerCluster(), v.sectorsPerCluster);
  engine.keepRunning = 1;
  ASSERT_NE(RunScan(engine, false, nullptr).status, 0u);
  const std::uint64_t clusterBytes = engine.context.clusterBytes();

  // The deleted files of the tree, by the sector where their data starts.
  std::multimap<std::uint64_t, const ItemNode*> items;
  WalkTree(engine.treeRoot, [&](const ItemNode& node, int) {
    if (!node.isFolder() && (node.flags & ITEM_LIVE) == 0)
      items.emplace(FatClusterSector(engine, node.id), &node);
  });
  std::set<const ItemNode*> matched;

  Agreement agreement;
  for (const TskFile& file : DeletedFiles(tsk)) {
    ++agreement.deletedFiles;
    if (file.path.rfind("$OrphanFiles/", 0) == 0) {
      // Rule: TSK finds orphan entries by reading every cluster as a folder;
      // the scan reads only the folders it reaches from the root.
      ++agreement.explained;
      continue;
    }
    if (file.size == 0) {
      // Rule: an empty file has first cluster 0 and is never listed.
      ++agreement.explained;
      continue;
    }
    const ExpectedName name = NameFor(engine, file);
    const ItemNode* item = nullptr;
    if (!file.sectors.empty()) {
      const auto [from, to] = items.equal_range(file.sectors.front());
      for (auto it = from; it != to && item == nullptr; ++it) {
        if (!matched.contains(it->second) && it->second->size == file.size &&
            NameFits(*it->second, file, name)) {
          item = it->second;
        }
      }
    }
    if (item == nullptr) {
      ADD_FAILURE() << v.name << ": not listed: " << Describe(file);
      ++agreement.wrong;
      continue;
    }
    matched.insert(item);
    bool same = FolderFits(*item, file.path);
    EXPECT_TRUE(same) << v.name << ": in another folder: " << Describe(file);

    const std::vector<std::uint8_t> ours = Written(engine, *item, dir / "ours");
    bool whole = true;
    if (OneRun(file.sectors) && file.sectors.size() * 512 >= file.size) {
      same = same && test::Sha256OfFile(dir / "ours") ==
                         test::IcatSha256(tsk, std::to_string(file.address));
    } else {
      // Rule: TSK steps over clusters that are allocated now, so where its
      // sectors are not one run the file's clusters were not consecutive (or
      // are taken). The scan reads consecutive clusters from the first, so
      // only the first cluster is checked.
      whole = false;
      test::RunOk("icat " + tsk.Args() + " " + std::to_string(file.address) + " > " +
                  test::Quote((dir / "icat").string()));
      const std::vector<std::uint8_t> theirs = test::ReadFile(dir / "icat");
      const std::size_t n = std::min<std::size_t>({clusterBytes, file.size, theirs.size()});
      same = same && n != 0 && ours.size() == file.size &&
             std::equal(theirs.begin(), theirs.begin() + n, ours.begin());
    }
    EXPECT_TRUE(same) << v.name << ": other bytes: " << Describe(file);
    ++(!same ? agreement.wrong : whole && !name.byRule ? agreement.identical : agreement.explained);
  }
  // Nothing is listed that TSK does not know as a deleted file.
  for (const auto& [sector, node] : items) {
    if (matched.contains(node)) continue;
    ADD_FAILURE() << v.name << ": listed, but not deleted to TSK: " << Utf8FromUtf16(node->name)
                  << " (cluster " << node->id << ")";
    ++agreement.wrong;
  }
  std::printf("[ agreement ] %-24s deleted files %4d  identical %4d  explained %4d  wrong %d\n",
              v.name, agreement.deletedFiles, agreement.identical, agreement.explained,
              agreement.wrong);
  EXPECT_EQ(agreement.wrong, 0);
  EXPECT_GT(agreement.identical, 0);
}

INSTANTIATE_TEST_SUITE_P(
    FatVolumes, FatAgreementTest,
    testing::Values(Volume{"mkfs.fat-16-c2k", 16, 4}, Volume{"mkfs.fat-16-c32k", 16, 64},
                    Volume{"mkfs.fat-32-c512", 32, 1}, Volume{"mkfs.fat-32-c4k", 32, 8}),
    [](const auto& info) {
      std::string name = info.param.name;
      std::replace_if(
          name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
      return name;
    });

}  // namespace
}  // namespace restorix
