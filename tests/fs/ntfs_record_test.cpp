// MFT records: validation and fixups, attribute walks and run lists, each
// also fed damaged input that must neither be accepted nor read out of bounds.
#include "fs/ntfs_record.h"

#include <gtest/gtest.h>

#include "support/mft_builder.h"

namespace restorix {
namespace {

using test::EncodeRunList;
using Record = std::vector<std::uint8_t>;

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
Record SampleRecord(std::uint32_t bytes = 1024, std::uint16_t usaOffset = 0x30) {
  test::MftRecordBuilder b(bytes);
  b.UpdateSequenceOffset(usaOffset);
  const std::uint32_t first =
      b.Resident(ATTR_STANDARD_INFORMATION, test::StandardInformationValue(1, 2));
  b.Resident(ATTR_FILE_NAME, test::FileNameValue(5, u"a.txt"));
  b.Resident(ATTR_DATA, Record(bytes - first - 232, 0x5A));
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
  test::MftRecordBuilder b(1024);
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
  const std::tuple<const char*, Record, std::vector<RunNode>> cases[] = {
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

}  // namespace
}  // namespace restorix
