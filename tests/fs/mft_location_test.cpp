// Locating the master file table from MFT record 0, built in memory: the
// plain case, the mirror, and the attribute-list paths through extension
// records (no tool here makes a volume whose MFT needs one).
#include <gtest/gtest.h>

#include "disk/mount.h"
#include "engine.h"
#include "support/boot_sectors.h"
#include "support/fake_source.h"
#include "support/mft_builder.h"

namespace restorix {
namespace {

using test::EncodeRunList;
using test::MftRecordBuilder;

// An NTFS volume in memory: 512-byte sectors, `spc` sectors per cluster,
// 1 KiB records, the MFT at cluster `mft` and its mirror at cluster `mirror`.
class MemoryVolume {
 public:
  explicit MemoryVolume(std::uint8_t spc = 8, std::uint64_t mft = 16, std::uint64_t mirror = 32)
      : spc_(spc), mft_(mft), bytes_(4 << 20, 0) {
    test::NtfsGeometry g;
    g.sectorsPerCluster = spc;
    g.totalSectors = bytes_.size() / 512 - 1;
    g.mftCluster = mft;
    g.mftMirrorCluster = mirror;
    Place(0, test::NtfsBoot(g));
    mirror_ = mirror;
  }
  void Place(std::uint64_t byte, const std::vector<std::uint8_t>& data) {
    std::copy(data.begin(), data.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(byte));
  }
  void Record(std::uint32_t number, const std::vector<std::uint8_t>& record) {
    Place((mft_ * spc_ + number * 2) * 512, record);
  }
  void MirrorRecord(const std::vector<std::uint8_t>& record) {
    Place(mirror_ * spc_ * 512, record);
  }
  void Cluster(std::uint64_t cluster, const std::vector<std::uint8_t>& data) {
    Place(cluster * spc_ * 512, data);
  }
  OpenResult Open(Engine& engine) const {
    return engine.OpenSource(SOURCE_LOGICAL_DRIVE, std::make_unique<test::FakeSource>(bytes_),
                             u"memory");
  }

 private:
  std::uint8_t spc_;
  std::uint64_t mft_;
  std::uint64_t mirror_ = 0;
  std::vector<std::uint8_t> bytes_;
};

MftRecordBuilder Record0() {
  MftRecordBuilder b(1024);
  b.Resident(0x10, test::StandardInformationValue(1, 1), 0);
  return b;
}

std::vector<std::uint8_t> PlainRecord0(std::uint64_t lastVcn, std::uint64_t cluster) {
  MftRecordBuilder b = Record0();
  b.Resident(0x30, test::FileNameValue(5, u"$MFT"), 3);
  b.NonResident(0x80, 0, lastVcn,
                EncodeRunList({{lastVcn + 1, static_cast<std::int64_t>(cluster)}}),
                (lastVcn + 1) * 4096, 6);
  b.NonResident(0xB0, 0, 0, EncodeRunList({{1, 15}}), 8, 5);
  return b.Build();
}

TEST(MountNtfsTest, PlainDataAttribute) {
  MemoryVolume volume;
  volume.Record(0, PlainRecord0(99, 16));
  Engine engine;
  ASSERT_TRUE(volume.Open(engine));
  EXPECT_EQ(engine.mftRuns, (std::vector<RunNode>{{100, 16}}));
  // 8 sectors per cluster and 2 per record: 100 clusters hold 400 records.
  EXPECT_EQ(engine.mftRecordCount, 400u);
}

TEST(MountNtfsTest, RecordCountWithClustersSmallerThanARecord) {
  MemoryVolume volume(1, 64, 128);
  volume.Record(0, PlainRecord0(199, 64));
  Engine engine;
  ASSERT_TRUE(volume.Open(engine));
  EXPECT_EQ(engine.mftRecordCount, 100u);  // 200 clusters of 512 bytes, 1 KiB records
}

TEST(MountNtfsTest, FallsBackToTheMirrorAndFailsWhenBothAreDamaged) {
  MemoryVolume volume;
  auto damaged = PlainRecord0(99, 16);
  std::copy_n("BAAD", 4, damaged.begin());
  volume.Record(0, damaged);
  volume.MirrorRecord(PlainRecord0(49, 16));
  Engine engine;
  ASSERT_TRUE(volume.Open(engine));
  EXPECT_EQ(engine.mftRuns, (std::vector<RunNode>{{50, 16}}));

  volume.MirrorRecord(damaged);
  Engine again;
  EXPECT_EQ(volume.Open(again).failure, OpenFailure::MftNotFound);
  EXPECT_FALSE(again.source);
}

TEST(MountNtfsTest, MftBeyondTheEndOfTheSource) {
  MemoryVolume volume(8, 1ull << 40, 1ull << 41);
  Engine engine;
  EXPECT_EQ(volume.Open(engine).failure, OpenFailure::MftNotFound);
}

TEST(MountNtfsTest, RecordWithoutDataOrWithResidentDataFails) {
  {
    MemoryVolume volume;
    MftRecordBuilder b = Record0();
    b.Resident(0x30, test::FileNameValue(5, u"$MFT"), 3);
    volume.Record(0, b.Build());
    Engine engine;
    EXPECT_EQ(volume.Open(engine).failure, OpenFailure::MftNotFound);
  }
  {
    MemoryVolume volume;
    MftRecordBuilder b = Record0();
    b.Resident(0x30, test::FileNameValue(5, u"$MFT"), 3);
    b.Resident(0x80, std::vector<std::uint8_t>(16, 1), 6);
    volume.Record(0, b.Build());
    Engine engine;
    EXPECT_EQ(volume.Open(engine).failure, OpenFailure::MftNotFound);
  }
}

std::vector<std::uint8_t> Concat(const std::vector<std::vector<std::uint8_t>>& parts) {
  std::vector<std::uint8_t> out;
  for (const auto& p : parts)
    out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Record 0 keeps the first part of the MFT's data; records 20 and 21 hold the
// rest, as Windows writes a heavily fragmented MFT.
std::vector<std::vector<std::uint8_t>> ListEntries() {
  return {test::AttributeListEntryBytes(0x10, 0, 0, 0),
          test::AttributeListEntryBytes(0x30, 0, 0, 3),
          test::AttributeListEntryBytes(0x80, 0, 0, 6),
          test::AttributeListEntryBytes(0x80, 50, 20, 0),
          test::AttributeListEntryBytes(0x80, 80, 21, 2),
          test::AttributeListEntryBytes(0xB0, 0, 0, 5)};
}

void PlaceExtensionRecords(MemoryVolume& volume) {
  MftRecordBuilder r20(1024);
  r20.BaseReference(0);
  r20.NonResident(0x80, 50, 79, EncodeRunList({{30, 300}}), 0, 0);
  volume.Record(20, r20.Build());
  MftRecordBuilder r21(1024);
  r21.Resident(0x10, test::StandardInformationValue(1, 1), 7);  // not the attribute wanted
  r21.NonResident(0x80, 80, 99, EncodeRunList({{20, 500}}), 0, 2);
  volume.Record(21, r21.Build());
}

std::vector<std::uint8_t> Record0WithList(const std::vector<std::uint8_t>& listAttribute) {
  MftRecordBuilder b = Record0();
  b.Raw(listAttribute);
  b.Resident(0x30, test::FileNameValue(5, u"$MFT"), 3);
  b.NonResident(0x80, 0, 49, EncodeRunList({{50, 16}}), 100 * 4096, 6);
  return b.Build();
}

std::vector<std::uint8_t> ResidentListAttribute(const std::vector<std::uint8_t>& entries) {
  MftRecordBuilder scratch(4096);
  const std::uint32_t at = scratch.Resident(0x20, entries, 4);
  const auto built = scratch.Build();
  // Take the attribute's own bytes back out of the scratch record.
  const std::uint32_t length = le32(built, at + 4);
  auto attribute = std::vector<std::uint8_t>(built.begin() + at, built.begin() + at + length);
  return attribute;
}

TEST(MountNtfsTest, ResidentAttributeList) {
  MemoryVolume volume;
  volume.Record(0, Record0WithList(ResidentListAttribute(Concat(ListEntries()))));
  PlaceExtensionRecords(volume);
  Engine engine;
  ASSERT_TRUE(volume.Open(engine));
  EXPECT_EQ(engine.mftRuns, (std::vector<RunNode>{{50, 16}, {30, 300}, {20, 500}}));
  EXPECT_EQ(engine.mftRecordCount, 400u);
}

TEST(MountNtfsTest, ListedRecordsThatAreDamagedOrLackTheAttributeArePassedOver) {
  MemoryVolume volume;
  auto entries = ListEntries();
  entries[4] = test::AttributeListEntryBytes(0x80, 80, 21, 9);  // no attribute 9 in record 21
  volume.Record(0, Record0WithList(ResidentListAttribute(Concat(entries))));
  PlaceExtensionRecords(volume);
  auto broken = MftRecordBuilder(1024);
  broken.NonResident(0x80, 50, 79, EncodeRunList({{30, 300}}), 0, 0);
  auto bytes = broken.Build();
  std::copy_n("BAAD", 4, bytes.begin());
  volume.Record(20, bytes);
  Engine engine;
  ASSERT_TRUE(volume.Open(engine));
  EXPECT_EQ(engine.mftRuns, (std::vector<RunNode>{{50, 16}}));
}

TEST(MountNtfsTest, ZeroLengthListEntryEndsTheList) {
  MemoryVolume volume;
  auto entries = ListEntries();
  entries[3][4] = 0, entries[3][5] = 0;
  volume.Record(0, Record0WithList(ResidentListAttribute(Concat(entries))));
  PlaceExtensionRecords(volume);
  Engine engine;
  ASSERT_TRUE(volume.Open(engine));
  EXPECT_EQ(engine.mftRuns, (std::vector<RunNode>{{50, 16}}));
}

TEST(MountNtfsTest, NonResidentAttributeListAcrossClusters) {
  // 512-byte clusters and a first entry padded to 56 bytes: the list's later
  // entries straddle cluster boundaries.
  MemoryVolume volume(1, 64, 128);
  auto entries = ListEntries();
  auto padded = entries[0];
  padded.resize(56, 0);
  StoreLE<std::uint16_t>(padded, 4, 56);
  std::vector<std::vector<std::uint8_t>> all{padded};
  for (int i = 0; i < 14; ++i)
    all.push_back(test::AttributeListEntryBytes(0x30, 0, 0, 3));
  all.insert(all.end(), entries.begin() + 2, entries.end());
  const auto list = Concat(all);
  ASSERT_GT(list.size(), 512u);
  // The list lives in clusters 900 and 700, in that order.
  volume.Cluster(900, std::vector<std::uint8_t>(list.begin(), list.begin() + 512));
  volume.Cluster(700, std::vector<std::uint8_t>(list.begin() + 512, list.end()));
  MftRecordBuilder listHolder(4096);
  const std::uint32_t at =
      listHolder.NonResident(0x20, 0, 1, EncodeRunList({{1, 900}, {1, -200}}), list.size(), 4);
  const auto scratch = listHolder.Build();
  const std::vector<std::uint8_t> attribute(scratch.begin() + at,
                                            scratch.begin() + at + le32(scratch, at + 4));
  volume.Record(0, Record0WithList(attribute));
  PlaceExtensionRecords(volume);

  Engine engine;
  ASSERT_TRUE(volume.Open(engine));
  EXPECT_EQ(engine.mftRuns, (std::vector<RunNode>{{50, 16}, {30, 300}, {20, 500}}));
  EXPECT_EQ(engine.mftRecordCount, 50u);  // 100 clusters of 512 bytes
}

}  // namespace
}  // namespace restorix
