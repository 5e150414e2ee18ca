// Locating the MFT from record 0, built in memory (no tool here makes a volume
// whose MFT needs an attribute list).
#include <gtest/gtest.h>

#include "support/boot_sectors.h"
#include "support/ntfs_volume.h"

namespace restorix {
namespace {

using test::AttributeListEntryBytes;
using test::EncodeRunList;
using test::MemoryNtfsVolume;
using test::MftRecordBuilder;
using Bytes8 = std::vector<std::uint8_t>;
using Runs = std::vector<RunNode>;

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
