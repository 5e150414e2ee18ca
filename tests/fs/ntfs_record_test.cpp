// MFT records: validation and fixups, attribute walks and run lists, each
// also fed damaged input that must neither be accepted nor read out of bounds.
#include "fs/ntfs_record.h"

#include <gtest/gtest.h>

#include <functional>

#include "support/mft_builder.h"

namespace restorix {
namespace {

using test::EncodeRunList;
using test::MftRecordBuilder;

VolumeContext NtfsContext(std::uint16_t bytesPerSector, std::uint8_t recordSectors) {
  VolumeContext c;
  c.setFsType(FS_NTFS);
  c.setBytesPerSector(bytesPerSector);
  c.setSectorsPerCluster(8);
  c.setMftRecordSectors(recordSectors);
  return c;
}

std::vector<std::uint8_t> SampleRecord(std::uint32_t bytes = 1024) {
  MftRecordBuilder b(bytes);
  b.Resident(ATTR_STANDARD_INFORMATION, test::StandardInformationValue(1, 2));
  b.Resident(ATTR_FILE_NAME, test::FileNameValue(5, u"a.txt"));
  // A value that crosses the first 512-byte block boundary, so the fixup
  // matters for what is read back, and fills the record to its last byte.
  const std::uint32_t firstAttribute = bytes == 1024 ? 0x38 : 0x48;
  b.Resident(ATTR_DATA, std::vector<std::uint8_t>(bytes - firstAttribute - 232, 0x5A));
  return b.Build();
}

TEST(CheckMftRecordTest, AcceptsAnIntactRecordAndRestoresTheProtectedWords) {
  auto record = SampleRecord();
  EXPECT_EQ(record[510], 0x42);  // the check word stands at the block end on disk
  ASSERT_TRUE(CheckMftRecord(record, NtfsContext(512, 2)));
  EXPECT_EQ(record[510], 0x5A);
  EXPECT_EQ(record[511], 0x5A);
}

TEST(CheckMftRecordTest, BothUpdateSequenceLayoutsAndLargeSectors) {
  auto old = MftRecordBuilder(1024).UpdateSequenceOffset(0x2A);
  old.Resident(ATTR_STANDARD_INFORMATION, test::StandardInformationValue(1, 2));
  auto oldRecord = old.Build();
  EXPECT_EQ(FirstAttributeOffset(oldRecord), 0x30);
  EXPECT_TRUE(CheckMftRecord(oldRecord, NtfsContext(512, 2)));

  // 4 KiB records on 4 KiB sectors still carry a fixup per 512 bytes.
  auto big = SampleRecord(4096);
  EXPECT_EQ(FirstAttributeOffset(big), 0x48);
  EXPECT_TRUE(CheckMftRecord(big, NtfsContext(4096, 1)));
  auto bigOn512 = SampleRecord(4096);
  EXPECT_TRUE(CheckMftRecord(bigOn512, NtfsContext(512, 8)));
}

TEST(CheckMftRecordTest, RefusesDamagedRecords) {
  using Edit = std::function<void(std::vector<std::uint8_t>&)>;
  struct Case {
    const char* what;
    Edit edit;
  };
  const auto put16 = [](std::vector<std::uint8_t>& r, std::size_t o, std::uint16_t v) {
    StoreLE<std::uint16_t>(r, o, v);
  };
  const auto put32 = [](std::vector<std::uint8_t>& r, std::size_t o, std::uint32_t v) {
    StoreLE<std::uint32_t>(r, o, v);
  };
  const Case cases[] = {
      {"signature BAAD", [](auto& r) { std::copy_n("BAAD", 4, r.begin()); }},
      {"update sequence at 0x28", [&](auto& r) { put16(r, 0x04, 0x28); }},
      {"update sequence count for 2 KiB", [&](auto& r) { put16(r, 0x06, 5); }},
      {"first attribute not where the sequence ends", [&](auto& r) { put16(r, 0x14, 0x40); }},
      {"first attribute not a multiple of 8", [&](auto& r) { put16(r, 0x14, 0x3A); }},
      {"more bytes in use than allocated", [&](auto& r) { put32(r, 0x18, 1032); }},
      {"allocated size is not the record size", [&](auto& r) { put32(r, 0x1C, 2048); }},
      {"bytes in use not a multiple of 8", [&](auto& r) { put32(r, 0x18, le32(r, 0x18) - 4); }},
      {"torn write in the first block", [&](auto& r) { put16(r, 510, 0x4343); }},
      {"torn write in the second block", [&](auto& r) { put16(r, 1022, 0x4343); }},
      {"unknown attribute type", [&](auto& r) { put32(r, 0x38, 0x85); }},
  };
  for (const Case& c : cases) {
    auto record = SampleRecord();
    c.edit(record);
    EXPECT_FALSE(CheckMftRecord(record, NtfsContext(512, 2))) << c.what;
  }
  auto shortBuffer = SampleRecord();
  shortBuffer.resize(512);
  EXPECT_FALSE(CheckMftRecord(shortBuffer, NtfsContext(512, 2)));
}

TEST(CheckMftRecordTest, BlocksPastTheBytesInUseAreNotChecked) {
  MftRecordBuilder b(1024);
  b.Resident(ATTR_STANDARD_INFORMATION, test::StandardInformationValue(1, 2));
  auto record = b.Build();
  ASSERT_LT(BytesInUse(record), 512u);
  StoreLE<std::uint16_t>(record, 1022, 0x4343);
  EXPECT_TRUE(CheckMftRecord(record, NtfsContext(512, 2)));
}

TEST(CheckMftRecordTest, AZeroLengthAttributeEndsTheWalkWithoutLooping) {
  MftRecordBuilder b(1024);
  b.Resident(ATTR_STANDARD_INFORMATION, test::StandardInformationValue(1, 2));
  std::vector<std::uint8_t> zeroLength(16, 0);
  zeroLength[0] = 0x30;
  b.Raw(zeroLength);
  auto record = b.Build();
  ASSERT_TRUE(CheckMftRecord(record, NtfsContext(512, 2)));
  AttributeWalk walk(record, FirstAttributeOffset(record));
  int seen = 0;
  while (walk.Next())
    ++seen;
  EXPECT_EQ(seen, 1);
}

TEST(AttributeWalkTest, StopsAtTheEndMarkerAndAtLengthsPastTheBytesInUse) {
  auto record = SampleRecord();
  ASSERT_TRUE(CheckMftRecord(record, NtfsContext(512, 2)));
  std::vector<std::uint32_t> types;
  for (AttributeWalk walk(record, FirstAttributeOffset(record)); auto a = walk.Next();) {
    types.push_back(a->type());
  }
  EXPECT_EQ(types, (std::vector<std::uint32_t>{0x10, 0x30, 0x80}));

  const std::uint32_t second =
      FirstAttributeOffset(record) + le32(record, FirstAttributeOffset(record) + 4);
  StoreLE<std::uint32_t>(record, second + 4, 0x10000);  // runs far past the record
  types.clear();
  for (AttributeWalk walk(record, FirstAttributeOffset(record)); auto a = walk.Next();) {
    types.push_back(a->type());
  }
  EXPECT_EQ(types, (std::vector<std::uint32_t>{0x10}));
}

TEST(DecodeRunListTest, DecodesRunsAndStopsAtTheAttributesEnd) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> bytes;
    std::vector<RunNode> runs;
  };
  const Case cases[] = {
      {"one run", EncodeRunList({{64, 21589}}), {{64, 21589}}},
      {"backwards delta",
       EncodeRunList({{8, 1000}, {4, -600}, {2, 0x10000}}),
       {{8, 1000}, {4, 400}, {2, 65936}}},
      {"sparse run keeps the running cluster",
       EncodeRunList({{16, 500}, {16, 0}, {16, 100}}),
       {{16, 500}, {16, 0}, {16, 600}}},
      {"a length wider than 32 bits", EncodeRunList({{0x123456789, 10}}), {{0x123456789, 10}}},
      {"empty list", {0x00}, {}},
      {"pair cut short by the end of the attribute", {0x21, 0x08, 0x10}, {}},
      {"second pair cut short", {0x11, 0x08, 0x10, 0x31, 0x04, 0x01}, {{8, 16}}},
      {"length field of 9 bytes", {0x19, 1, 2, 3, 4, 5, 6, 7, 8, 9, 1, 0}, {}},
  };
  for (const Case& c : cases) {
    std::vector<RunNode> runs;
    DecodeRunList(c.bytes, 0, runs);
    EXPECT_EQ(runs, c.runs) << c.what;
  }
  // Each call starts its running cluster at 0 and appends.
  std::vector<RunNode> runs{{1, 7}};
  DecodeRunList(EncodeRunList({{2, 50}}), 0, runs);
  EXPECT_EQ(runs, (std::vector<RunNode>{{1, 7}, {2, 50}}));
}

TEST(AttributeListEntryTest, ZeroOrOverlongEntriesEndTheList) {
  auto entry = test::AttributeListEntryBytes(0x80, 0, 17, 3);
  const auto read = ReadAttributeListEntry(entry, 0);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->recordNumber, 17u);
  EXPECT_EQ(read->attributeId, 3);
  StoreLE<std::uint16_t>(entry, 4, 0);
  EXPECT_FALSE(ReadAttributeListEntry(entry, 0));
  StoreLE<std::uint16_t>(entry, 4, 0x40);
  EXPECT_FALSE(ReadAttributeListEntry(entry, 0));
}

}  // namespace
}  // namespace restorix
