// Format recovery on NTFS: the old tree rebuilt from the FILE records a quick
// format left in the data area.
#include "fs/ntfs_old_records.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "catalogue/scan_info.h"
#include "support/ntfs_volume.h"
#include "support/test_support.h"
#include "support/tsk.h"
#include "util/text.h"

namespace restorix {
namespace {

using test::EncodeRunList;
using test::FileRecord;
using Bytes8 = std::vector<std::uint8_t>;

Bytes8 Text(const std::string& s) {
  return {s.begin(), s.end()};
}

const ItemNode* Child(const ItemNode* folder, const std::u16string& name) {
  for (const ItemNode* c = folder->firstChild; c != nullptr; c = c->next)
    if (c->name == name) return c;
  return nullptr;
}

// Every file below `folder` by its path from there, with its bytes' SHA-256.
std::map<std::string, std::string> FilesBelow(const Volume& volume, const ItemNode* folder) {
  std::map<std::string, std::string> files;
  WalkTree(folder, [&](const ItemNode& node, int) {
    if (node.isFolder()) return;
    std::u16string path = node.name;
    for (const ItemNode* p = node.parent; p != folder; p = p->parent)
      path = p->name + u"/" + path;
    files[Utf8FromUtf16(path)] = test::Sha256Of(test::ReadItem(volume, node));
  });
  return files;
}

std::map<std::string, std::string> Manifest() {
  std::map<std::string, std::string> files;
  std::ifstream in(test::SourceFixture("ntfs-formatted.manifest.tsv"));
  for (std::string line; std::getline(in, line);) {
    const auto tab = line.find('\t'), last = line.rfind('\t');
    files[line.substr(0, tab)] = line.substr(last + 1);
  }
  return files;
}

// mkntfs -Q over a volume that held a tree: every file of the tree comes
// back byte for byte under its path, also from a saved scan reopened, and
// none is taken for overwritten.
TEST(OldMftRecords, QuickFormattedVolumeGivesBackTheTree) {
  const auto image = test::Fixture("ntfs-formatted.img");
  const OpenResult opened = Volume::Open(SourceKind::LogicalDrive, image);
  ASSERT_TRUE(opened);
  test::ScanRun scan = test::ScanVolume(*opened.volume, ScanMode::Format);
  ASSERT_TRUE(scan.completed);
  const ItemNode* lost = Child(scan.tree.root(), u"Lost Folders");
  ASSERT_NE(lost, nullptr);

  std::map<std::string, std::string> found = FilesBelow(*opened.volume, lost);
  // Three filler files deleted before the format come back too.
  for (const char* gap : {"gap0.bin", "gap1.bin", "gap2.bin"})
    EXPECT_EQ(found.erase(gap), 1u) << gap;
  EXPECT_EQ(found, Manifest());

  // The deleted-files scan of the same volume finds none of it.
  test::ScanRun deleted = test::ScanVolume(*opened.volume);
  EXPECT_EQ(Child(deleted.tree.root(), u"Lost Folders"), nullptr);

  test::TempDir dir;
  ASSERT_TRUE(SaveScanInfo(dir / "old.qns", opened.volume->sourceName(), opened.volume->context(),
                           scan.tree));
  const LoadResult loaded = LoadScanInfo(dir / "old.qns", image);
  ASSERT_TRUE(loaded.reopened);
  const ItemNode* reloaded = Child(loaded.tree.root(), u"Lost Folders");
  ASSERT_NE(reloaded, nullptr);
  EXPECT_EQ(FilesBelow(*loaded.volume, reloaded), FilesBelow(*opened.volume, lost));
  WalkTree(reloaded, [](const ItemNode& node, int) {
    if (!node.isFolder()) {
      EXPECT_EQ(node.recoverable.state, Recoverable::Intact) << node.id;
    }
  });
}

// Old records placed in the data area of a volume built in memory (MFT at
// clusters 16-31, 4 KiB clusters, 2048 clusters).
struct FormattedVolume : test::MemoryNtfsVolume {
  static constexpr std::uint64_t kOldTable = 300;  // the cluster where the old records lie
  std::uint32_t placed = 0;

  void Old(const Bytes8& record) { Place(kOldTable * 4096 + 1024 * placed++, record); }
  static test::MftRecordBuilder Named(std::uint32_t number, std::uint16_t flags,
                                      std::uint64_t parent, const std::u16string& name) {
    auto record = FileRecord(flags, parent, name);
    record.Number(number);
    return record;
  }
  // `logSequence` tells two copies of one record apart: the higher is newer.
  void OldFile(std::uint32_t number, std::uint64_t parent, const std::u16string& name,
               const std::string& data, std::uint8_t logSequence = 1) {
    auto record = Named(number, 1, parent, name);
    if (!data.empty()) record.Resident(0x80, Text(data), 3);
    Bytes8 bytes = record.Build();
    bytes[0x08] = logSequence;
    Old(bytes);
  }
};

constexpr std::uint64_t Ref(std::uint32_t number, std::uint16_t sequence = 1) {
  return std::uint64_t{sequence} << 48 | number;
}

TEST(OldMftRecords, RebuildsFoldersAndSurvivesHostileRecords) {
  FormattedVolume v;
  v.Old(FormattedVolume::Named(70, 3, Ref(5), u"Old folder").Build());
  v.OldFile(71, Ref(70), u"in folder.txt", "old data");
  // A folder deleted before the format: its sequence number moved on.
  v.Old(FormattedVolume::Named(72, 2, Ref(5), u"Gone").Number(72, 2).Build());
  v.OldFile(73, Ref(72, 1), u"in gone.txt", "g");
  v.OldFile(74, Ref(99), u"orphan.txt", "o");  // its folder record is gone
  // Copies of one record: the newest stands, and one without data yields
  // nothing, whichever comes first.
  v.OldFile(60, Ref(5), u"copied.txt", "", 3);
  v.OldFile(75, Ref(5), u"at root.txt", "r");
  v.OldFile(60, Ref(5), u"copied.txt", "newer", 2);
  v.OldFile(60, Ref(5), u"copied.txt", "older", 1);
  // Two folders each other's parent.
  v.Old(FormattedVolume::Named(80, 3, Ref(81), u"A").Build());
  v.Old(FormattedVolume::Named(81, 3, Ref(80), u"B").Build());
  v.OldFile(82, Ref(80), u"in loop.txt", "l");
  // A torn record: its second fixup does not match.
  auto torn = FormattedVolume::Named(90, 1, Ref(5), u"torn.txt");
  torn.Resident(0x80, Bytes8(728, 't'), 3);  // fills the record: both fixups count
  Bytes8 tornBytes = torn.Build();
  tornBytes[1022] ^= 0xFF;
  v.Old(tornBytes);
  // Runs that leave the volume (16383 sectors): cut to what it holds.
  auto far = FormattedVolume::Named(91, 1, Ref(5), u"far.bin");
  far.NonResident(0x80, 0, 99, EncodeRunList({{100, 2040}}), 100 * 4096, 3);
  v.Old(far.Build());
  // Data that an attribute list places in an extension record of the old
  // table.
  auto listed = FormattedVolume::Named(76, 1, Ref(5), u"listed.bin");
  listed.Resident(0x20, test::AttributeListEntryBytes(0x80, 0, 77, 3), 4);
  v.Old(listed.Build());
  test::MftRecordBuilder extension(1024, 1);
  extension.BaseReference(Ref(76)).Number(77);
  extension.Resident(0x80, Text("listed data"), 3);
  v.Old(extension.Build());
  // The same number as a deleted file of the current MFT: each reads its own.
  v.OldFile(40, Ref(5), u"old forty.txt", "old forty");
  auto current = FileRecord(0, 5, u"new forty.txt");
  current.Resident(0x80, Text("new forty"), 3);
  v.Record(40, current.Build());

  const OpenResult opened = v.Open();
  ASSERT_TRUE(opened);
  test::ScanRun scan = test::ScanVolume(*opened.volume, ScanMode::Format);
  const ItemNode* lost = Child(scan.tree.root(), u"Lost Folders");
  ASSERT_NE(lost, nullptr);
  EXPECT_EQ(
      test::Render(lost),
      "Lost Folders+(old forty.txt listed.bin far.bin B(A(in loop.txt)) copied.txt at root.txt "
      "#99(orphan.txt) Gone(in gone.txt) Old folder(in folder.txt))");

  const ItemNode* far_ = Child(lost, u"far.bin");
  EXPECT_EQ(far_->size, (16383u - 2040 * 8) * 512);
  EXPECT_EQ(far_->claimedSize, 100u * 4096);
  EXPECT_EQ(test::ReadItem(*opened.volume, *Child(lost, u"old forty.txt")), Text("old forty"));
  EXPECT_EQ(test::ReadItem(*opened.volume, *Child(lost, u"listed.bin")), Text("listed data"));
  EXPECT_EQ(test::ReadItem(*opened.volume, *Child(lost, u"copied.txt")), Text("newer"));
  EXPECT_EQ(test::ReadItem(*opened.volume, *Child(scan.tree.root(), u"new forty.txt")),
            Text("new forty"));
}

}  // namespace
}  // namespace restorix
