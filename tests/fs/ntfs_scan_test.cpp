// The NTFS scan on volumes built in memory.
#include "fs/ntfs_scan.h"

#include <gtest/gtest.h>

#include <map>

#include "fs/scan.h"
#include "support/ntfs_volume.h"
#include "support/test_support.h"

namespace restorix {
namespace {

using test::AttributeListEntryBytes;
using test::EncodeRunList;
using test::FileRecord;
using test::MftRecordBuilder;
using Bytes8 = std::vector<std::uint8_t>;
using Pairs = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

Bytes8 Text(const std::string& s) {
  return {s.begin(), s.end()};
}

// A file record (flags as FileRecord's) with resident data.
Bytes8 File(std::uint16_t flags, std::uint64_t parent, const std::u16string& name) {
  auto record = FileRecord(flags, parent, name);
  record.Resident(0x80, Text("data"), 3);
  return record.Build();
}

using test::Cat;

// Flags as FileRecord's. Not listed: 11 (a system record), 43 without data,
// 44 live, 47's empty named stream, 48 a live folder without files, 49 an
// extension record. 45's folder 60 never comes; 52-58 are hostile; 61-63 have
// short names; 65-67 an attribute list.
struct SampleVolume : test::MemoryNtfsVolume {
  std::uint16_t listedAt = 0;  // where record 67 holds big.bin's second piece
  SampleVolume() : MemoryNtfsVolume(8, 20) {
    const std::tuple<std::uint32_t, std::uint16_t, std::uint32_t, std::u16string> plain[] = {
        {11, 0, 5, u"$Secret"},      {40, 2, 5, u"Docs"},      {41, 0, 40, u"hello.txt"},
        {42, 0, 50, u"later.txt"},   {43, 0, 5, u"empty.txt"}, {44, 1, 5, u"live.txt"},
        {45, 0, 60, u"orphan.bin"},  {48, 3, 5, u"Empty"},     {50, 2, 40, u"Later"},
        {52, 2, 52, u"Self"},        {53, 2, 54, u"A"},        {54, 2, 53, u"B"},  // loops
        {55, 0, 52, u"in-self.txt"}, {56, 0, 53, u"in-a.txt"}};
    for (const auto& [number, flags, parent, name] : plain)
      Record(number, flags > 1 || number == 43 ? FileRecord(flags, parent, name).Build()
                                               : File(flags, parent, name));
    auto torn = FileRecord(0, 5, u"torn.txt");
    torn.Resident(0x80, Bytes8(728, 't'), 3);  // fills the record: both fixups are checked
    Record(51, torn.Build());
    auto two = FileRecord(0, 5, u"two.txt");  // data, then a named stream
    two.NonResident(0x80, 0, 1, EncodeRunList({{2, 300}}), 5000, 3);
    two.Resident(0x80, Text("stream data"), 4, u"extra");
    Record(46, two.Build());
    auto one = FileRecord(0, 5, u"one.txt");
    one.Resident(0x80, Text("only"), 3);
    one.Resident(0x80, {}, 4, u"empty");
    Record(47, one.Build());
    auto extension = FileRecord(0, 5, u"ext.txt").BaseReference(46);
    extension.Resident(0x80, Text("x"), 3);
    Record(49, extension.Build());
    MftRecordBuilder self(1024, 0);  // an attribute list listing its own record, again and again
    const Bytes8 entry = AttributeListEntryBytes(0x80, 0, 57, 3);
    self.Resident(0x20, Cat({entry, entry, entry}), 1);
    self.Resident(0x30, test::FileNameValue(5, u"self.bin"), 2);
    self.Resident(0x80, Text("data"), 3);
    Record(57, self.Build());
    auto overflow = FileRecord(0, 5, u"overflow.bin");  // a run list running past its attribute
    overflow.NonResident(0x80, 0, 3, {0x44, 1, 2, 3, 4, 5, 6, 7, 8, 0x44, 1, 2}, 4096, 3);
    Record(58, overflow.Build());
    // Short (name space 2) and long names; a parent's sequence number is not part of its id.
    const std::vector<std::pair<std::u16string, std::uint8_t>> names[] = {
        {{u"REPORT~1.DOC", 2}, {u"Report 2026.doc", 1}},
        {{u"Long name.txt", 1}, {u"LONGNA~1.TXT", 2}},
        {{u"WRD0001.TMP", 2}}};
    for (std::uint32_t i = 0; i < 3; ++i) {
      MftRecordBuilder b(1024, 0);
      for (const auto& [name, space] : names[i])
        b.Resident(0x30, test::FileNameValue(7ull << 48 | 40, name, space));
      b.Resident(0x80, Text("data"), 3);
      Record(61 + i, b.Build());
    }
    // 65's attribute list puts its data in 66 (clusters 0-9, with the sizes) and
    // 67 (clusters 10-19, sizes 0), a named stream in 67 too; 67's attribute 3
    // is not listed.
    MftRecordBuilder base(1024, 0);
    base.Resident(
        0x20,
        Cat({AttributeListEntryBytes(0x30, 0, 65, 2), AttributeListEntryBytes(0x80, 0, 66, 1),
             AttributeListEntryBytes(0x80, 10, 67, 1), AttributeListEntryBytes(0x80, 0, 67, 2)}),
        1);
    base.Resident(0x30, test::FileNameValue(5, u"big.bin"), 2);
    Record(65, base.Build());
    auto first = MftRecordBuilder(1024, 0).BaseReference(65);
    first.NonResident(0x80, 0, 9, EncodeRunList({{10, 400}}), 20 * 4096 - 100, 1);
    Record(66, first.Build());
    auto rest = MftRecordBuilder(1024, 0).BaseReference(65);
    rest.Resident(0x80, Text("unlisted"), 3, u"other");
    listedAt = static_cast<std::uint16_t>(
        rest.NonResident(0x80, 10, 19, EncodeRunList({{10, 600}}), 0, 1));
    rest.Resident(0x80, Text("side"), 2, u"note");
    Record(67, rest.Build());
  }
};

struct Events : TaskEvents {
  Pairs reports;
  std::function<void()> onReport = [] {};
  void ScanProgress(std::uint64_t at, std::uint64_t of) override {
    reports.push_back({at, of});
    onReport();
  }
};

TEST(ScanMftTest, RebuildsFoldersAndListsDeletedFilesPassingOverDamage) {
  for (const bool damaged : {false, true}) {
    SampleVolume v;
    if (damaged) v.Place(v.RecordSector(51) * 512 + 1022, {0xFF});  // torn.txt: a torn write
    test::FakeSource* source = nullptr;
    const OpenResult opened = v.Open(&source);
    ASSERT_TRUE(opened);
    if (damaged) source->FailRange(v.RecordSector(41) * 512, 512, EIO);  // hello.txt's
    const test::ScanRun scan = test::ScanVolume(*opened.volume);
    EXPECT_TRUE(scan.completed);
    ASSERT_EQ(test::Render(scan.tree.root()),
              std::string(".+(big.bin big.bin overflow.bin self.bin self.bin self.bin ") +
                  "B(A(in-a.txt)) Self(in-self.txt) " + (damaged ? "" : "torn.txt ") +
                  "one.txt two.txt two.txt " +
                  "Docs(WRD0001.TMP Long name.txt Report 2026.doc Later(later.txt)" +
                  (damaged ? "" : " hello.txt") + ") #60(orphan.bin))");
    std::map<std::u16string, const ItemNode*> items;  // the first of each name
    WalkTree(scan.tree.root(), [&](const ItemNode& n, int) { items.emplace(n.name, &n); });
    const auto extents = [](const ItemNode* n) {
      return std::get<NtfsRecord>(n->location).extents;
    };
    // The named stream is an item too; data is found by its attribute's header.
    const ItemNode* two = items[u"two.txt"];
    EXPECT_EQ(std::tie(two->size, two->next->size, two->next->id), std::tuple(5000u, 11u, 46u));
    EXPECT_EQ(extents(two), (std::vector<Extent>{{v.RecordSector(46), 0x100}}));
    EXPECT_EQ(std::get<NtfsRecord>(two->location).number, 46u);
    const ItemNode* big = items[u"big.bin"];  // both pieces, the sizes from the first
    EXPECT_EQ(std::tie(big->size, big->next->size), std::tuple(20u * 4096 - 100, 4u));
    EXPECT_EQ(extents(big).size(), 2u);
    EXPECT_EQ(extents(big).back(), (Extent{v.RecordSector(67), v.listedAt}));
  }
}

TEST(ScanMftTest, BatchesOf128RecordsStoppingAndALostDevice) {
  test::MemoryNtfsVolume v(8, 75);  // 300 records
  v.Record(20, File(0, 99, u"early.txt"));
  v.Record(21, File(0, 5, u"top.txt"));
  v.Record(299, File(0, 5, u"last.txt"));
  enum { kRun, kStop, kLose };
  for (const int how : {kRun, kStop, kLose}) {
    test::FakeSource* source = nullptr;
    const OpenResult opened = v.Open(&source);
    ASSERT_TRUE(opened);
    Events events;
    StopToken stop;
    if (how == kStop) events.onReport = [&] { stop.RequestStop(); };  // during the first batch
    if (how == kLose) source->LoseAfter(source->reads() + 1);  // the second batch finds it gone
    const test::ScanRun scan =
        test::ScanVolume(*opened.volume, ScanMode::DeletedFiles, {}, 1024, &stop, &events);
    EXPECT_EQ(scan.completed, how == kRun) << "a lost device never completes a scan";
    EXPECT_EQ(scan.deviceLost, how == kLose);
    EXPECT_EQ(events.reports, (how ? Pairs{{0, 300}} : Pairs{{0, 300}, {128, 300}, {256, 300}}));
    // What was found stays, and the tree is finished: the placeholder is hung.
    EXPECT_EQ(test::Render(scan.tree.root()),
              how == kRun ? ".+(last.txt top.txt #99(early.txt))" : ".+(top.txt #99(early.txt))");
  }
}

// A forged run whose clusters lie past any sector number still takes its
// record numbers, as record lookups count them: later records keep theirs.
TEST(ScanMftTest, ARunOffTheVolumeKeepsItsRecordNumbers) {
  test::MemoryNtfsVolume v(8, 75);
  v.Record(21, File(0, 5, u"top.txt"));
  // The MFT's first 2 clusters (8 records of 1 KiB in 4 KiB clusters) lie
  // far past the volume; its 75 clusters at cluster 16 follow.
  const std::int64_t far = static_cast<std::int64_t>(~std::uint64_t{0} / 4);
  MftRecordBuilder record0(1024);
  record0.Resident(0x10, test::StandardInformationValue(1, 1), 0);
  record0.Resident(0x30, test::FileNameValue(5, u"$MFT"), 3);
  record0.NonResident(0x80, 0, 76, EncodeRunList({{2, far}, {75, 16 - far}}), 77 * 4096, 6);
  v.Record(0, record0.Build());
  const OpenResult opened = v.Open();
  ASSERT_TRUE(opened);
  ASSERT_EQ(opened.volume->mftRuns().size(), 2u);
  const test::ScanRun scan = test::ScanVolume(*opened.volume);
  EXPECT_TRUE(scan.completed);
  const ItemNode* found = nullptr;
  WalkTree(scan.tree.root(), [&](const ItemNode& n, int) {
    if (n.name == u"top.txt") found = &n;
  });
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->id, 21u + 8u);
}

TEST(RunScanTest, RootAndBranchesFollowTheFileSystem) {
  // A type whose signature is nowhere: the search runs and finds nothing.
  SignatureRecord nowhere;
  nowhere.typeCode = 9999;
  nowhere.sigLength = 4;
  std::copy_n("\x01\x02\x03\x04", 4, nowhere.sigBytes.begin());
  for (int c = 0; c < 4; ++c) {  // an NTFS volume or a whole disk, with or without the search
    const bool isVolume = c & 1;
    const ScanMode mode = c & 2 ? ScanMode::Format : ScanMode::DeletedFiles;
    const test::MemoryNtfsVolume v;
    const OpenResult opened =
        isVolume ? v.Open() : Volume::Open(SourceKind::PhysicalDisk, v.Source(), u"");
    ASSERT_TRUE(opened);
    Events events;
    const test::ScanRun scan =
        test::ScanVolume(*opened.volume, mode, {nowhere}, 1024, nullptr, &events);
    EXPECT_TRUE(scan.completed);
    const ItemNode& root = *scan.tree.root();
    EXPECT_EQ(std::tie(root.id, root.parentId, root.flags, root.name),
              std::tuple(5u, 5u, ItemFlags::Live | ItemFlags::Folder, u"."));
    const std::uint64_t sectors = opened.volume->context().totalSectors();
    const bool searched = std::any_of(events.reports.begin(), events.reports.end(),
                                      [&](const auto& r) { return r.second == sectors; });
    EXPECT_EQ(searched, mode == ScanMode::Format || !isVolume) << "a whole disk is always searched";
  }
}

}  // namespace
}  // namespace restorix
