// MFT records: validation and fixups, attribute walks and run lists, each
// also fed damaged input that must neither be accepted nor read out of bounds;
// and locating the MFT from record 0, built in memory (no tool here makes a
// volume whose MFT needs an attribute list).
#include "fs/ntfs_record.h"

#include <gtest/gtest.h>

#include "support/boot_sectors.h"
#include "support/mft_builder.h"
#include "support/ntfs_volume.h"

namespace restorix {
namespace {

using test::AttributeListEntryBytes;
using test::EncodeRunList;
using test::MemoryNtfsVolume;
using test::MftRecordBuilder;
using Bytes8 = std::vector<std::uint8_t>;
using Runs = std::vector<RunNode>;

VolumeContext NtfsContext(std::uint16_t bytesPerSector = 512, std::uint8_t recordSectors = 2) {
  VolumeContext c;
  c.setFsType(FsType::Ntfs);
  c.setBytesPerSector(bytesPerSector);
  c.setSectorsPerCluster(8);
  c.setMftRecordSectors(recordSectors);
  return c;
}

// Standard information, a file name, and a value of 0x5A bytes that crosses
// the first block end (so the fixup matters) and fills the record.
Bytes8 SampleRecord(std::uint32_t bytes = 1024, std::uint16_t usaOffset = 0x30) {
  MftRecordBuilder b(bytes);
  b.UpdateSequenceOffset(usaOffset);
  const std::uint32_t first =
      b.Resident(ATTR_STANDARD_INFORMATION, test::StandardInformationValue(1, 2));
  b.Resident(ATTR_FILE_NAME, test::FileNameValue(5, u"a.txt"));
  b.Resident(ATTR_DATA, Bytes8(bytes - first - 232, 0x5A));
  return b.Build();
}

TEST(CheckMftRecordTest, BothUpdateSequenceLayoutsAndLargeRecordsRestoreTheProtectedWords) {
  // Record bytes, update sequence offset, sector bytes, record sectors, first attribute.
  const std::tuple<int, int, int, int, int> cases[] = {{1024, 0x30, 512, 2, 0x38},
                                                       {1024, 0x2A, 512, 2, 0x30},
                                                       {4096, 0x30, 4096, 1, 0x48},
                                                       {4096, 0x30, 512, 8, 0x48}};
  for (const auto& [bytes, usa, sector, sectors, first] : cases) {
    auto record = SampleRecord(bytes, static_cast<std::uint16_t>(usa));
    EXPECT_EQ(FirstAttributeOffset(record), first);
    const VolumeContext context =
        NtfsContext(static_cast<std::uint16_t>(sector), static_cast<std::uint8_t>(sectors));
    ASSERT_TRUE(CheckMftRecord(record, context)) << bytes << " " << usa;
    EXPECT_EQ(le16(record, 510), 0x5A5A);
  }
}

TEST(CheckMftRecordTest, RefusesDamagedRecords) {
  // What, where, how many bytes written (0: the buffer cut to `value` bytes), value.
  const std::tuple<const char*, std::size_t, int, std::uint32_t> cases[] = {
      {"signature BAAD", 0, 4, 0x44414142},
      {"sequence at 0x28", 0x04, 2, 0x28},
      {"sequence for 2 KiB", 0x06, 2, 5},
      {"first attribute past the sequence", 0x14, 2, 0x40},
      {"first attribute at 0x3A", 0x14, 2, 0x3A},
      {"in use > allocated", 0x18, 4, 1032},
      {"allocated 2 KiB", 0x1C, 4, 2048},
      {"in use not a multiple of 8", 0x18, 4, 1020},
      {"torn first block", 510, 2, 0x4343},
      {"torn second block", 1022, 2, 0x4343},
      {"attribute type 0x85", 0x38, 4, 0x85},
      {"shorter than a record", 0, 0, 512}};
  for (const auto& [what, at, width, value] : cases) {
    auto record = SampleRecord();
    if (width == 2) StoreLE(MutableBytes(record), at, static_cast<std::uint16_t>(value));
    if (width == 4) StoreLE(MutableBytes(record), at, value);
    if (width == 0) record.resize(value);
    EXPECT_FALSE(CheckMftRecord(record, NtfsContext())) << what;
  }
}

TEST(CheckMftRecordTest, BlocksPastTheBytesInUseAreNotChecked) {
  MftRecordBuilder b(1024);
  b.Resident(ATTR_STANDARD_INFORMATION, test::StandardInformationValue(1, 2));
  auto record = b.Build();
  ASSERT_LT(BytesInUse(record), 512u);
  StoreLE<std::uint16_t>(record, 1022, 0x4343);
  EXPECT_TRUE(CheckMftRecord(record, NtfsContext()));
}

// The second attribute's length: as built, zero, or running far past the
// record. The walk ends there without looping and the record stays valid.
TEST(AttributeWalkTest, StopsAtTheEndMarkerAndAtZeroOrOverlongLengths) {
  const std::pair<std::optional<std::uint32_t>, std::vector<std::uint32_t>> cases[] = {
      {std::nullopt, {0x10, 0x30, 0x80}}, {0, {0x10}}, {0x10000, {0x10}}};
  for (const auto& [length, types] : cases) {
    auto record = SampleRecord();
    const std::uint32_t first = FirstAttributeOffset(record);
    const std::uint32_t second = first + le32(record, first + 4);
    if (length) StoreLE<std::uint32_t>(record, second + 4, *length);
    ASSERT_TRUE(CheckMftRecord(record, NtfsContext()));
    std::vector<std::uint32_t> seen;
    for (AttributeWalk walk(record, first); auto a = walk.Next();)
      seen.push_back(a->type());
    EXPECT_EQ(seen, types) << length.value_or(~0u);
  }
}

TEST(DecodeRunListTest, DecodesRunsAndStopsAtTheAttributesEnd) {
  const std::tuple<const char*, Bytes8, std::vector<RunNode>> cases[] = {
      {"one run", EncodeRunList({{64, 21589}}), {{64, 21589}}},
      {"backwards",
       EncodeRunList({{8, 1000}, {4, -600}, {2, 0x10000}}),
       {{8, 1000}, {4, 400}, {2, 65936}}},
      {"sparse keeps the running cluster",
       EncodeRunList({{16, 500}, {16, 0}, {16, 100}}),
       {{16, 500}, {16, 0}, {16, 600}}},
      {"length over 32 bits", EncodeRunList({{0x123456789, 10}}), {{0x123456789, 10}}},
      {"empty list", {0x00}, {}},
      {"pair cut short by the end", {0x21, 0x08, 0x10}, {}},
      {"second pair cut short", {0x11, 0x08, 0x10, 0x31, 0x04, 0x01}, {{8, 16}}},
      {"length field of 9 bytes", {0x19, 1, 2, 3, 4, 5, 6, 7, 8, 9, 1, 0}, {}}};
  for (const auto& [what, bytes, expected] : cases) {
    std::vector<RunNode> runs{{1, 7}};  // appended to, the running cluster starting at 0
    DecodeRunList(bytes, 0, runs);
    runs.erase(runs.begin());
    EXPECT_EQ(runs, expected) << what;
  }
}

// Record 0 with $STANDARD_INFORMATION, then `list` (an attribute's bytes), a
// $FILE_NAME and, unless `lastVcn` is 0, $DATA over clusters 0-`lastVcn` at 16.
Bytes8 Record0(std::uint64_t lastVcn, const Bytes8& list = {}, bool resident = false) {
  MftRecordBuilder b(1024);
  b.Resident(0x10, test::StandardInformationValue(1, 1), 0);
  if (!list.empty()) b.Raw(list);
  b.Resident(0x30, test::FileNameValue(5, u"$MFT"), 3);
  if (resident) b.Resident(0x80, Bytes8(16, 1), 6);
  if (lastVcn)
    b.NonResident(0x80, 0, lastVcn, EncodeRunList({{lastVcn + 1, 16}}), (lastVcn + 1) * 4096, 6);
  b.NonResident(0xB0, 0, 0, EncodeRunList({{1, 15}}), 8, 5);
  return b.Build();
}

Bytes8 Damaged(Bytes8 record) {
  std::copy_n("BAAD", 4, record.begin());
  return record;
}

// The MFT runs and record count the volume opens with; no runs when it
// does not open.
std::pair<Runs, std::uint32_t> Mount(const MemoryNtfsVolume& volume) {
  const OpenResult opened = volume.Open();
  if (!opened) {
    EXPECT_EQ(opened.failure, OpenFailure::MftNotFound);
    return {};
  }
  EXPECT_FALSE(opened.volume->mftRuns().empty());
  return {opened.volume->mftRuns(), opened.volume->mftRecordCount()};
}

TEST(MountNtfsTest, DataInRecord0OrItsMirror) {
  MemoryNtfsVolume v(8), small(1);
  v.Record(0, Record0(99));
  small.Record(0, Record0(199));
  // 8 sectors per cluster and 2 per record: 100 clusters hold 400 records.
  EXPECT_EQ(Mount(v), std::pair(Runs{{100, 16}}, 400u));
  EXPECT_EQ(Mount(small), std::pair(Runs{{200, 16}}, 100u));
  v.Record(0, Damaged(Record0(99)));
  v.Cluster(v.kMirrorCluster, Record0(49));
  EXPECT_EQ(Mount(v).first, (Runs{{50, 16}}));
  v.Cluster(v.kMirrorCluster, Damaged(Record0(49)));
  EXPECT_EQ(Mount(v).first, Runs{});
  for (const Bytes8& record : {Record0(0), Record0(0, {}, true)}) {  // no $DATA, a resident one
    v.Record(0, record);
    EXPECT_EQ(Mount(v).first, Runs{});
  }
  v.Record(0, Record0(99));
  test::NtfsGeometry g;
  g.totalSectors = (8 << 20) / 512 - 1, g.mftCluster = 1ull << 40, g.mftMirrorCluster = 1ull << 41;
  v.Place(0, test::NtfsBoot(g));
  EXPECT_EQ(Mount(v).first, Runs{}) << "past the end of the source";
}

// Record 0 keeps the first 50 clusters of the MFT's data; records 20 and 21
// hold the rest, as Windows writes a heavily fragmented MFT. Entries of other
// types come before and after; each is 32 bytes.
Bytes8 Entries() {
  Bytes8 list;
  for (const auto& [type, vcn, record, id] : {std::tuple(0x10, 0, 0, 0),
                                              {0x30, 0, 0, 3},
                                              {0x80, 0, 0, 6},
                                              {0x80, 50, 20, 0},
                                              {0x80, 80, 21, 2},
                                              {0xB0, 0, 0, 5}}) {
    const Bytes8 entry = AttributeListEntryBytes(type, vcn, record, static_cast<std::uint16_t>(id));
    list.insert(list.end(), entry.begin(), entry.end());
  }
  return list;
}

// Record 0 with the attribute list (resident; with 512-byte clusters, in
// clusters 900 then 700, where its bytes are put), records 20 and 21.
MemoryNtfsVolume Listed(const Bytes8& list, std::uint8_t spc = 8, bool damaged20 = false) {
  MemoryNtfsVolume v(spc);
  MftRecordBuilder scratch(4096);  // the list attribute is built here, then taken out
  const auto runs = EncodeRunList({{1, 900}, {1, -200}});
  const std::uint32_t at = spc == 8 ? scratch.Resident(0x20, list, 4)
                                    : scratch.NonResident(0x20, 0, 1, runs, list.size(), 4);
  const Bytes8 built = scratch.Build();
  v.Record(0, Record0(49, Bytes8(built.begin() + at, built.begin() + at + le32(built, at + 4))));
  v.Cluster(900, Bytes8(list.begin(), list.begin() + std::min<std::size_t>(512, list.size())));
  if (list.size() > 512) v.Cluster(700, Bytes8(list.begin() + 512, list.end()));
  MftRecordBuilder r20(1024);
  r20.BaseReference(0).NonResident(0x80, 50, 79, EncodeRunList({{30, 300}}), 0, 0);
  v.Record(20, damaged20 ? Damaged(r20.Build()) : r20.Build());
  MftRecordBuilder r21(1024);
  r21.Resident(0x10, test::StandardInformationValue(1, 1), 7);  // not the attribute wanted
  r21.NonResident(0x80, 80, 99, EncodeRunList({{20, 500}}), 0, 2);
  v.Record(21, r21.Build());
  return v;
}

TEST(MountNtfsTest, DataThroughTheAttributeList) {
  const Runs all = {{50, 16}, {30, 300}, {20, 500}}, first = {{50, 16}};
  EXPECT_EQ(Mount(Listed(Entries())), std::pair(all, 400u));
  Bytes8 list = Entries();
  list[4 * 32 + 0x18] = 9;  // record 21 has no attribute 9
  EXPECT_EQ(Mount(Listed(list, 8, true)).first, first) << "record 20 damaged";
  for (const std::uint8_t length : {0, 1, 0x19}) {
    list = Entries();
    list[3 * 32 + 4] = length;
    EXPECT_EQ(Mount(Listed(list)).first, first)
        << "an entry shorter than its fields ends the list: " << int{length};
  }
  // The first entry padded to 56 bytes: later entries straddle the cluster boundary.
  list = Entries();
  list[4] = 56;
  list.insert(list.begin() + 32, 24, 0);
  const Bytes8 name(list.begin() + 56, list.begin() + 88);  // the $FILE_NAME entry, 14 more times
  for (int i = 0; i < 14; ++i)
    list.insert(list.begin() + 56, name.begin(), name.end());
  ASSERT_GT(list.size(), 512u);
  EXPECT_EQ(Mount(Listed(list, 1)), std::pair(all, 50u));  // 100 clusters of 512 bytes
}

}  // namespace
}  // namespace restorix
