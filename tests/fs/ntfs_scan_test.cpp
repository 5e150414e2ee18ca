// The NTFS scan on volumes built in memory: which records become items, how
// the folder structure is rebuilt, data location, batches and progress,
// damaged records, read errors and lost devices.
#include "fs/ntfs_scan.h"

#include <gtest/gtest.h>

#include "fs/scan.h"
#include "support/ntfs_volume.h"
#include "support/test_support.h"

namespace restorix {
namespace {

using test::EncodeRunList;
using test::FileRecord;
using test::MemoryNtfsVolume;
using test::MftRecordBuilder;

std::vector<std::uint8_t> Text(const std::string& s) { return {s.begin(), s.end()}; }

TEST(ParseMftRecordTest, ChoosesTheLongNameOverAShortOneRightBeforeIt) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::u16string, std::uint8_t>> names;  // name, name space
    std::u16string chosen;
  };
  const Case cases[] = {
      {"short then long", {{u"REPORT~1.DOC", 2}, {u"Report for 2026.docx", 1}}, u"Report for 2026.docx"},
      {"short only", {{u"WRD0001.TMP", 2}}, u"WRD0001.TMP"},
      {"long then short", {{u"Long name.txt", 1}, {u"LONGNA~1.TXT", 2}}, u"Long name.txt"},
      {"POSIX name", {{u"a:b", 0}}, u"a:b"},
  };
  for (const Case& c : cases) {
    MftRecordBuilder b(1024, 0);
    b.Resident(0x10, test::StandardInformationValue(0x01D8000000000000ull, 0), 0);
    std::uint16_t id = 1;
    for (const auto& [name, space] : c.names) {
      b.Resident(0x30, test::FileNameValue((std::uint64_t{7} << 48) | 40, name, space), id++);
    }
    auto record = b.Build();
    VolumeContext context;
    context.setBytesPerSector(512);
    context.setMftRecordSectors(2);
    ASSERT_TRUE(CheckMftRecord(record, context));
    ItemNode node;
    EXPECT_FALSE(ParseMftRecord(record, node)) << c.what;
    EXPECT_EQ(node.name, c.chosen) << c.what;
    EXPECT_EQ(node.parentId, 40u) << c.what << ": the sequence number is not part of the id";
    EXPECT_NE(node.createDate, 0) << c.what;
    EXPECT_EQ(node.accessDate, 0) << c.what << ": a time of 0 (1601) has no packed date";
  }
}

// The volume used by most scan tests. Records:
//   40 deleted folder "Docs" (in the root)
//   41 deleted file "hello.txt" in Docs, resident data
//   42 deleted file "later.txt" in folder 50, which comes later in the MFT
//   43 deleted file "empty.txt" with no data       -> not listed
//   44 live file "live.txt"                         -> not listed
//   45 deleted file "orphan.bin" in folder 60, which no record supplies
//   46 deleted file "two.txt": non-resident data and a resident named stream
//   47 deleted file "one.txt": data and a named stream with nothing in it
//   48 live folder "Empty" without files            -> pruned
//   49 extension record of 46                       -> skipped
//   50 deleted folder "Later" in Docs
//   11 a deleted file among the system's own records -> skipped
MemoryNtfsVolume SampleVolume() {
  MemoryNtfsVolume v;
  v.Record(40, FileRecord(2, 5, u"Docs").Build());
  auto hello = FileRecord(0, 40, u"hello.txt");
  hello.Resident(0x80, Text("hello, world"), 3);
  v.Record(41, hello.Build());
  auto later = FileRecord(0, 50, u"later.txt");
  later.Resident(0x80, Text("later"), 3);
  v.Record(42, later.Build());
  v.Record(43, FileRecord(0, 5, u"empty.txt").Build());
  auto live = FileRecord(1, 5, u"live.txt");
  live.Resident(0x80, Text("alive"), 3);
  v.Record(44, live.Build());
  auto orphan = FileRecord(0, 60, u"orphan.bin");
  orphan.Resident(0x80, Text("orphaned"), 3);
  v.Record(45, orphan.Build());
  auto two = FileRecord(0, 5, u"two.txt");
  two.NonResident(0x80, 0, 1, EncodeRunList({{2, 300}}), 5000, 3);
  two.Resident(0x80, Text("stream data"), 4, u"extra");
  v.Record(46, two.Build());
  auto one = FileRecord(0, 5, u"one.txt");
  one.Resident(0x80, Text("only"), 3);
  one.Resident(0x80, {}, 4, u"empty");
  v.Record(47, one.Build());
  v.Record(48, FileRecord(3, 5, u"Empty").Build());
  auto extension = FileRecord(0, 5, u"ext.txt").BaseReference(46);
  extension.Resident(0x80, Text("x"), 3);
  v.Record(49, extension.Build());
  v.Record(50, FileRecord(2, 40, u"Later").Build());
  auto system = FileRecord(0, 5, u"$Secret");
  system.Resident(0x80, Text("system"), 3);
  v.Record(11, system.Build());
  return v;
}

struct Progress : TaskEvents {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> reports;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> phases;
  std::function<void()> onReport;
  void ScanProgress(std::uint64_t position, std::uint64_t total) override {
    reports.push_back({position, total});
    if (onReport) onReport();
  }
  void TaskPhase(std::uint32_t phase, std::uint32_t count) override { phases.push_back({phase, count}); }
};

ScanResult Scan(Engine& engine) {
  engine.keepRunning = 1;
  return RunScan(engine, false, nullptr);
}

TEST(ScanMftTest, RebuildsFoldersAndListsTheDeletedFiles) {
  Engine engine;
  ASSERT_TRUE(SampleVolume().Open(engine));
  const ScanResult result = Scan(engine);
  EXPECT_NE(result.status, 0u);
  EXPECT_EQ(test::Render(engine.treeRoot),
            ".(one.txt two.txt two.txt Docs(Later(later.txt) hello.txt) #60(orphan.bin))");
  const ItemNode* two = engine.treeRoot->firstChild->next;
  EXPECT_EQ(two->size, 5000u);
  EXPECT_EQ(two->next->size, 11u) << "the named stream is an item of its own";
  EXPECT_EQ(two->id, 46u);
  EXPECT_EQ(two->next->id, 46u);
  EXPECT_EQ(two->extents.size(), 1u);
  EXPECT_EQ(two->extents[0].start, MemoryNtfsVolume{}.RecordSector(46));
  const ItemNode* docs = two->next->next;
  EXPECT_EQ(docs->flags, 2);
  EXPECT_EQ(docs->id, 40u);
  EXPECT_EQ(docs->parentId, 5u);
  const ItemNode* orphanFolder = docs->next;
  EXPECT_EQ(orphanFolder->flags, 2);
  EXPECT_EQ(orphanFolder->parentId, 5u);
}

TEST(ScanMftTest, ReportsEachBatchOfAtMost128Records) {
  MemoryNtfsVolume v(8, 75);  // 300 records
  auto file = FileRecord(0, 5, u"last.txt");
  file.Resident(0x80, Text("at the end"), 3);
  v.Record(299, file.Build());
  Engine engine;
  ASSERT_TRUE(v.Open(engine));
  EXPECT_EQ(engine.mftRecordCount, 300u);
  Progress progress;
  engine.SetEvents(&progress);
  Scan(engine);
  EXPECT_EQ(progress.reports,
            (std::vector<std::pair<std::uint64_t, std::uint64_t>>{{0, 300}, {128, 300}, {256, 300}}));
  EXPECT_EQ(test::Render(engine.treeRoot), ".(last.txt)");
}

TEST(ScanMftTest, StoppingKeepsWhatWasFoundAndFinishesTheTree) {
  MemoryNtfsVolume v(8, 75);
  auto early = FileRecord(0, 99, u"early.txt");
  early.Resident(0x80, Text("early"), 3);
  v.Record(20, early.Build());
  auto top = FileRecord(0, 5, u"top.txt");
  top.Resident(0x80, Text("top"), 3);
  v.Record(21, top.Build());
  auto late = FileRecord(0, 5, u"late.txt");
  late.Resident(0x80, Text("late"), 3);
  v.Record(200, late.Build());
  Engine engine;
  ASSERT_TRUE(v.Open(engine));
  Progress progress;
  progress.onReport = [&] { engine.keepRunning = 0; };  // Stop during the first batch
  engine.SetEvents(&progress);
  const ScanResult result = Scan(engine);
  EXPECT_EQ(result.status, 0u);
  EXPECT_FALSE(result.deviceLost);
  EXPECT_EQ(test::Render(engine.treeRoot), ".(top.txt #99(early.txt))") << "the placeholder is hung";
}

TEST(ScanMftTest, DamagedRecordsAndUnreadableSectorsAreSkipped) {
  MemoryNtfsVolume v = SampleVolume();
  auto torn = FileRecord(0, 5, u"torn.txt");
  torn.Resident(0x80, std::vector<std::uint8_t>(728, 't'), 3);  // fills the record
  auto bytes = torn.Build();
  bytes[1022] ^= 0xFF;  // the second sector was never written
  v.Record(51, bytes);
  test::FakeSource* source = nullptr;
  Engine engine;
  ASSERT_TRUE(v.Open(engine, &source));
  source->FailRange(v.RecordSector(41) * 512, 512, EIO);  // hello.txt cannot be read
  EXPECT_NE(Scan(engine).status, 0u);
  EXPECT_EQ(test::Render(engine.treeRoot),
            ".(one.txt two.txt two.txt Docs(Later(later.txt)) #60(orphan.bin))");
}

TEST(ScanMftTest, ALostDeviceEndsTheScanAsAbortedWithTheTreeFinished) {
  MemoryNtfsVolume v(8, 75);
  auto early = FileRecord(0, 99, u"early.txt");
  early.Resident(0x80, Text("early"), 3);
  v.Record(20, early.Build());
  auto top = FileRecord(0, 5, u"top.txt");
  top.Resident(0x80, Text("top"), 3);
  v.Record(21, top.Build());
  auto late = FileRecord(0, 5, u"late.txt");
  late.Resident(0x80, Text("late"), 3);
  v.Record(200, late.Build());
  test::FakeSource* source = nullptr;
  Engine engine;
  ASSERT_TRUE(v.Open(engine, &source));
  source->LoseAfter(source->reads() + 1);  // the second batch finds the device gone
  const ScanResult result = Scan(engine);
  EXPECT_TRUE(result.deviceLost);
  EXPECT_EQ(result.status, 0u) << "a lost device is never reported as a completed scan";
  EXPECT_EQ(engine.keepRunning, 1u);
  EXPECT_EQ(test::Render(engine.treeRoot), ".(top.txt #99(early.txt))");
}

TEST(ScanMftTest, DataListedInExtensionRecords) {
  MemoryNtfsVolume v;
  // Record 52 carries an attribute list: its unnamed data lies in records 53
  // (clusters 0-9, holding the sizes) and 54 (clusters 10-19), a named
  // stream in record 54 too.
  auto entries = test::AttributeListEntryBytes(0x10, 0, 52, 0);
  for (const auto& e : {test::AttributeListEntryBytes(0x30, 0, 52, 2),
                        test::AttributeListEntryBytes(0x80, 0, 53, 1),
                        test::AttributeListEntryBytes(0x80, 10, 54, 1),
                        test::AttributeListEntryBytes(0x80, 0, 54, 2)}) {
    entries.insert(entries.end(), e.begin(), e.end());
  }
  MftRecordBuilder base(1024, 0);
  base.Resident(0x10, test::StandardInformationValue(0x01D8000000000000ull, 0), 0);
  base.Resident(0x20, entries, 1);
  base.Resident(0x30, test::FileNameValue(5, u"big.bin"), 2);
  v.Record(52, base.Build());
  auto first = MftRecordBuilder(1024, 0).BaseReference(52);
  first.NonResident(0x80, 0, 9, EncodeRunList({{10, 400}}), 20 * 4096 - 100, 1);
  v.Record(53, first.Build());
  auto rest = MftRecordBuilder(1024, 0).BaseReference(52);
  rest.NonResident(0x80, 10, 19, EncodeRunList({{10, 600}}), 0, 1);  // sizes only on the first
  rest.Resident(0x80, Text("side"), 2, u"note");
  v.Record(54, rest.Build());

  Engine engine;
  ASSERT_TRUE(v.Open(engine));
  Scan(engine);
  ASSERT_EQ(test::Render(engine.treeRoot), ".(big.bin big.bin)");
  const ItemNode* data = engine.treeRoot->firstChild;
  EXPECT_EQ(data->size, 20u * 4096 - 100);
  EXPECT_EQ(data->extents.size(), 2u) << "both pieces of the unnamed data";
  EXPECT_EQ(data->next->size, 4u);
  EXPECT_EQ(data->next->extents.size(), 1u);
  EXPECT_EQ(data->next->extents[0].start, v.RecordSector(54));
}

TEST(ScanMftTest, HostileRecordsNeitherLoopNorEscapeTheirBuffers) {
  MemoryNtfsVolume v(8, 32);
  // A folder that names itself as its parent, and two that name each other.
  v.Record(60, FileRecord(2, 60, u"Self").Build());
  v.Record(61, FileRecord(2, 62, u"A").Build());
  v.Record(62, FileRecord(2, 61, u"B").Build());
  for (const std::uint32_t parent : {60u, 61u}) {
    auto f = FileRecord(0, parent, u"inside.txt");
    f.Resident(0x80, Text("x"), 3);
    v.Record(parent + 10, f.Build());
  }
  // An attribute list that lists its own record over and over.
  std::vector<std::uint8_t> entries;
  for (int i = 0; i < 20; ++i) {
    const auto e = test::AttributeListEntryBytes(0x80, 0, 63, 3);
    entries.insert(entries.end(), e.begin(), e.end());
  }
  MftRecordBuilder self(1024, 0);
  self.Resident(0x20, entries, 1);
  self.Resident(0x30, test::FileNameValue(5, u"selfish.bin"), 2);
  self.Resident(0x80, Text("data"), 3);
  v.Record(63, self.Build());
  // A run list that runs past its attribute.
  auto overflow = FileRecord(0, 5, u"overflow.bin");
  std::vector<std::uint8_t> runs = {0x44, 1, 2, 3, 4, 5, 6, 7, 8, 0x44, 1, 2};
  overflow.NonResident(0x80, 0, 3, runs, 4096, 3);
  v.Record(64, overflow.Build());

  Engine engine;
  ASSERT_TRUE(v.Open(engine));
  EXPECT_NE(Scan(engine).status, 0u);
  const std::string tree = test::Render(engine.treeRoot);
  EXPECT_NE(tree.find("Self(inside.txt)"), std::string::npos) << tree;
  EXPECT_NE(tree.find("inside.txt"), tree.rfind("inside.txt")) << tree;
  EXPECT_NE(tree.find("selfish.bin"), std::string::npos) << tree;
  EXPECT_NE(tree.find("overflow.bin"), std::string::npos) << tree;
}

TEST(RunScanTest, RootAndBranchesFollowTheFileSystem) {
  struct Case {
    std::uint8_t fsType;
    bool withSearch;
    std::uint32_t rootId;
    bool searched;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> phases;
  };
  const Case cases[] = {
      {FS_NTFS, false, 5, false, {}},
      {FS_NTFS, true, 5, true, {{2, 2}}},
      {FS_NONE, false, 5, true, {}},  // a whole disk is always searched
      {FS_NONE, true, 5, true, {}},
  };
  for (const Case& c : cases) {
    Engine engine;
    if (c.fsType == FS_NTFS) {
      ASSERT_TRUE(MemoryNtfsVolume{}.Open(engine));
    } else {
      engine.OpenSource(SOURCE_PHYSICAL_DISK, MemoryNtfsVolume{}.Source(), u"disk");
    }
    Progress progress;
    engine.SetEvents(&progress);
    engine.keepRunning = 1;
    bool searched = false;
    const ScanResult result = RunScan(engine, c.withSearch, [&](Engine& e) {
      searched = true;
      return e.keepRunning.load();
    });
    EXPECT_NE(result.status, 0u);
    EXPECT_EQ(engine.treeRoot->id, c.rootId);
    EXPECT_EQ(engine.treeRoot->parentId, c.rootId);
    EXPECT_EQ(engine.treeRoot->flags, 3);
    EXPECT_EQ(engine.treeRoot->name, u".");
    EXPECT_EQ(searched, c.searched) << int{c.fsType} << " " << c.withSearch;
    EXPECT_EQ(progress.phases, c.phases) << int{c.fsType} << " " << c.withSearch;
  }
}

}  // namespace
}  // namespace restorix
