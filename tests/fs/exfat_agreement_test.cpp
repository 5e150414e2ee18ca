// The exFAT scan and its item reader against The Sleuth Kit on the committed
// camera-card volume (tests/fixtures/make-exfat-volume.sh): every deleted
// file fls finds must be an item with its name, folder and size, written
// with the bytes icat reads, unless a rule written here says otherwise. TSK's
// answers are the recorded ones (tests/fixtures/tsk-answers/exfat-card.tsv),
// so the test needs neither TSK nor FUSE to run.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "disk/volume.h"
#include "fs/fat_data.h"
#include "support/test_support.h"
#include "support/tsk.h"
#include "util/text.h"

namespace restorix {
namespace {

std::string PathOf(const ItemNode& item) {
  return Utf8FromUtf16(ItemPath(item));
}

TEST(ExfatAgreementTest, EveryDeletedFileIsFoundWithTheBytesIcatReads) {
  const auto image = test::Fixture("exfat-card.img");
  const test::FatAnswers tsk = test::RecordedFatAnswers("exfat-card");
  ASSERT_EQ(tsk.image, test::Sha256OfFile(image));
  const auto volume = Volume::Open(SourceKind::LogicalDrive, image).volume;
  ASSERT_TRUE(volume);
  const Volume& engine = *volume;
  ASSERT_EQ(engine.context().fsType(), FsType::Exfat);
  const test::ScanRun scan = test::ScanVolume(engine);
  ASSERT_TRUE(scan.completed);

  std::map<std::string, const ItemNode*> items;  // deleted files by path
  WalkTree(scan.tree.root(), [&](const ItemNode& node, int) {
    if (!node.isFolder() && !node.isLive()) items.emplace(PathOf(node), &node);
  });
  const std::uint64_t sectorBytes = engine.context().bytesPerSector();
  int identical = 0, explained = 0, wrong = 0;
  for (const test::TskFile& f : tsk.deleted) {
    const auto match = items.find(f.path);
    EXPECT_TRUE(match != items.end()) << "not listed: " << f.path;
    if (match == items.end()) {
      ++wrong;
      continue;
    }
    const ItemNode& item = *match->second;
    items.erase(match);
    EXPECT_EQ(item.size, f.size) << f.path;
    const auto first = FatClusterSector(engine.context(), item.id);
    EXPECT_EQ(f.sectors.empty() ? 0 : f.sectors[0], first && item.size ? *first : 0) << f.path;
    auto ours = test::ReadItem(engine, item);
    // Rule: TSK steps over clusters that are allocated now, so where its
    // sectors are not one run the file's clusters were not consecutive (or
    // are taken). The scan reads consecutive clusters from the first where
    // the FAT holds no chain, so only the first cluster is compared.
    bool oneRun = f.sectors.size() * sectorBytes >= f.size;
    for (std::size_t i = 1; i < f.sectors.size(); ++i)
      oneRun = oneRun && f.sectors[i] == f.sectors[i - 1] + 1;
    bool same = ours.size() == f.size;
    if (same && !oneRun)
      ours.resize(std::min<std::size_t>(engine.context().clusterBytes(), f.size));
    same = same && test::Sha256Of(ours) == (oneRun ? f.icat : f.icatHead);
    EXPECT_TRUE(same) << "other bytes: " << f.path;
    ++(!same ? wrong : oneRun ? identical : explained);
  }
  for (const auto& [path, node] : items) {
    ADD_FAILURE() << "listed, but not a deleted file to TSK: " << path;
    ++wrong;
  }
  std::printf(
      "[ agreement ] exFAT camera card: deleted files %zu  identical %d  explained %d  "
      "wrong %d\n",
      tsk.deleted.size(), identical, explained, wrong);
  EXPECT_GE(identical, 14);
}

}  // namespace
}  // namespace restorix
