// Reading an NTFS item's data: resident, plain, sparse, split over several
// attributes and compressed, always exactly the file's bytes, read whole or
// in pieces; and LZNT1 chunks, well-formed and damaged.
#include "fs/ntfs_data.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fs/item_reader.h"
#include "fs/lznt1.h"
#include "support/ntfs_volume.h"
#include "support/test_support.h"
#include "util/text.h"

namespace restorix {
namespace {

using test::Cat;
using test::EncodeRunList;
using test::FakeSource;
using test::FileRecord;
using test::MemoryNtfsVolume;
using Bytes8 = std::vector<std::uint8_t>;

Bytes8 Head(const Bytes8& bytes, std::size_t n) {
  return Bytes8(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
}

Bytes8 Header(std::size_t dataBytes, bool compressed) {
  const auto h = static_cast<std::uint16_t>((compressed ? 0xB000 : 0x3000) | (dataBytes - 1));
  return {static_cast<std::uint8_t>(h), static_cast<std::uint8_t>(h >> 8)};
}

// One literal, then one token that copies it 4095 more times from offset 1:
// 4096 bytes of `c` in four bytes of data.
Bytes8 RunChunk(std::uint8_t c) {
  const Bytes8 data = {0x02, c, 0xFC, 0x0F};
  return Cat({Header(data.size(), true), data});
}

// Scans the volume and writes the data of the item named `name`; `fault`
// changes the source between the scan and the write.
Bytes8 Recover(const MemoryNtfsVolume& volume, const std::u16string& name,
               const std::function<void(FakeSource&)>& fault = {}) {
  FakeSource* source = nullptr;
  const OpenResult opened = volume.Open(&source);
  EXPECT_TRUE(opened);
  if (!opened) return {};
  const test::ScanRun scan = test::ScanVolume(*opened.volume);
  const ItemNode* item = nullptr;
  WalkTree(scan.tree.root(), [&](const ItemNode& n, int) {
    if (!item && n.name == name) item = &n;
  });
  EXPECT_NE(item, nullptr) << "no item";
  if (!item) return {};
  if (fault) fault(*source);
  const Bytes8 whole = test::ReadItem(*opened.volume, *item);
  // Read in pieces of an odd length, the bytes are the same.
  ItemReader reader(*opened.volume, *item);
  Bytes8 pieces, piece(1234);
  for (std::size_t n; (n = reader.read(pieces.size(), piece)) != 0;)
    pieces.insert(pieces.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(n));
  EXPECT_EQ(pieces, whole);
  return whole;
}

// A file whose unnamed $DATA starts with the runs given.
test::MftRecordBuilder Plain(const char16_t* name, const Bytes8& runs, std::uint64_t lastVcn,
                             std::uint64_t size) {
  auto file = FileRecord(0, 5, name);
  file.NonResident(0x80, 0, lastVcn, runs, size, 3);
  return file;
}

TEST(NtfsReaderTest, ResidentPlainSparseSplitAndDamagedData) {
  MemoryNtfsVolume v;
  const Bytes8 content = test::Pattern(32);
  v.Cluster(300, content);
  auto small = FileRecord(0, 5, u"small");
  small.Resident(0x80, Bytes8{'h', 'i', '!'}, 3);
  auto split = Plain(u"split", EncodeRunList({{2, 300}}), 1, 3 * 4096 + 5);
  split.NonResident(0x80, 2, 3, EncodeRunList({{2, 302}}), 0, 4);
  split.Resident(0x80, Bytes8{'s', 't', 'r'}, 5, u"side");  // another stream, not this one's
  std::uint32_t number = 20;
  for (const auto& file :
       {small, Plain(u"one", EncodeRunList({{1, 300}}), 0, 4096),
        Plain(u"two", EncodeRunList({{2, 300}}), 1, 8192),
        Plain(u"5000", EncodeRunList({{2, 300}}), 1, 5000),
        // One cluster, two sparse clusters, one more cluster.
        Plain(u"sparse", EncodeRunList({{1, 300}, {2, 0}, {1, 1}}), 3, 4 * 4096 - 10), split})
    v.Record(number++, file.Build());
  Bytes8 badSector = Head(content, 8192);
  std::fill_n(badSector.begin() + 4096, 512, 0);
  using Fault = std::function<void(FakeSource&)>;
  const std::tuple<std::u16string, Fault, Bytes8> cases[] = {
      {u"small", {}, {'h', 'i', '!'}},
      {u"one", {}, Head(content, 4096)},
      {u"two", {}, Head(content, 8192)},
      {u"5000", {}, Head(content, 4096 + 904)},
      {u"sparse",
       {},
       Cat({Head(content, 4096), Bytes8(2 * 4096, 0),
            Bytes8(content.begin() + 4096, content.begin() + 8192 - 10)})},
      {u"split", {}, Head(content, 3 * 4096 + 5)},
      {u"two", [](FakeSource& s) { s.FailRange(301 * 4096, 512, EIO); }, badSector},
      // The record is no longer a FILE record when the data is written.
      {u"one", [&](FakeSource& s) { s.bytes()[v.RecordSector(21) * 512] = 'X'; }, {}}};
  for (const auto& [name, fault, expected] : cases)
    EXPECT_EQ(Recover(v, name, fault), expected) << Utf8FromUtf16(name);
}

// 512-byte clusters and compression units of 16 clusters (8 KiB, two LZNT1
// chunks each).
TEST(NtfsReaderTest, CompressedUnitsStoredCompressedSparseAndCutShort) {
  MemoryNtfsVolume v(1, 128);
  const Bytes8 stored = test::Pattern(16, 100), tail = test::Pattern(3, 200);
  v.Cluster(1000, Cat({RunChunk('A'), RunChunk('B'), {0, 0}}));
  v.Cluster(1100, stored);
  v.Cluster(1200, Cat({RunChunk('C'), {0, 0}}));
  v.Cluster(1300, tail);
  auto file = FileRecord(0, 5, u"packed.bin");
  // unit 0: compressed (1 cluster + 15 sparse); unit 1: stored whole;
  // unit 2: all sparse; unit 3: compressed; unit 4: three clusters that the
  // runs leave unfinished.
  const auto runs =
      EncodeRunList({{1, 1000}, {15, 0}, {16, 100}, {16, 0}, {1, 100}, {15, 0}, {3, 100}});
  file.NonResident(0x80, 0, 66, runs, 4 * 8192 + 3 * 512 - 100, 3, 0x0001, 4);
  v.Record(20, file.Build());
  EXPECT_EQ(Recover(v, u"packed.bin"),
            Cat({Bytes8(4096, 'A'), Bytes8(4096, 'B'), stored, Bytes8(8192, 0), Bytes8(4096, 'C'),
                 Bytes8(4096, 0), Head(tail, tail.size() - 100)}));
}

// The file system split the data over two attributes inside a compression
// unit: the unit is gathered across the cut and decompressed whole.
TEST(NtfsReaderTest, ACompressionUnitSplitBetweenAttributes) {
  MemoryNtfsVolume v(1, 128);
  v.Cluster(1500, Cat({RunChunk('Q'), RunChunk('R'), {0, 0}}));
  auto file = FileRecord(0, 5, u"split-unit.bin");
  file.NonResident(0x80, 0, 3, EncodeRunList({{1, 1500}, {3, 0}}), 8192, 3, 0x0001, 4);
  file.NonResident(0x80, 4, 15, EncodeRunList({{12, 0}}), 0, 4, 0x0001, 4);
  v.Record(20, file.Build());
  EXPECT_EQ(Recover(v, u"split-unit.bin"), Cat({Bytes8(4096, 'Q'), Bytes8(4096, 'R')}));
}

TEST(Lznt1Test, ChunksLandAtTheirOwnFourKilobytePlaces) {
  const Bytes8 raw = test::Pattern(8);
  const Bytes8 unit = Cat({RunChunk('A'), Cat({Header(4096, false), raw}), RunChunk('B'), {0, 0}});
  ASSERT_TRUE(Lznt1ChunksFit(unit));
  Bytes8 out(4 * 4096, 0xEE);
  EXPECT_EQ(Lznt1Decompress(unit, out), 3u * 4096);
  EXPECT_EQ(Bytes8(out.begin(), out.begin() + 4096), Bytes8(4096, 'A'));
  EXPECT_EQ(Bytes8(out.begin() + 4096, out.begin() + 8192), raw);
  EXPECT_EQ(Bytes8(out.begin() + 8192, out.begin() + 12288), Bytes8(4096, 'B'));
  EXPECT_EQ(out[12288], 0xEE) << "nothing is written past the data";
}

TEST(Lznt1Test, OffsetAndLengthSplitMovesWithThePosition) {
  // "abcdefghijklmnopq" (17 literals), then a token at position 17, where
  // the offset has 5 bits and the length 11: copy 20 bytes from 17 back.
  const std::string text = "abcdefghijklmnopq";
  const std::uint16_t token = static_cast<std::uint16_t>(((17 - 1) << 11) | (20 - 3));
  // Flag bytes before each group of eight: literals, then literal 'q' and
  // the token (bit 1).
  const std::string packed = std::string(1, '\0') + text.substr(0, 8) + std::string(1, '\0') +
                             text.substr(8, 8) + "\x02q" + static_cast<char>(token & 0xFF) +
                             static_cast<char>(token >> 8);
  const Bytes8 data(packed.begin(), packed.end());
  const Bytes8 unit = Cat({Header(data.size(), true), data});
  Bytes8 out(4096, 0);
  EXPECT_EQ(Lznt1Decompress(unit, out), 37u);
  EXPECT_EQ(std::string(out.begin(), out.begin() + 37), text + "abcdefghijklmnopqabc");
}

TEST(Lznt1Test, DamagedInputStaysInsideItsBuffers) {
  // A token pointing before the start of the chunk ends the chunk.
  const Bytes8 badOffset = Cat({Header(4, true), {0x02, 'x', 0x00, 0xF0}});
  Bytes8 out(4096, 0);
  EXPECT_EQ(Lznt1Decompress(badOffset, out), 1u);
  // Output smaller than the data: never written past.
  Bytes8 small(100, 0);
  EXPECT_EQ(Lznt1Decompress(RunChunk('Z'), small), 100u);
  EXPECT_EQ(small, Bytes8(100, 'Z'));
  // A chunk that claims more bytes than there are does not fit.
  const Bytes8 cut = Cat({Header(50, true), {0x00, 'a', 'b'}});
  EXPECT_FALSE(Lznt1ChunksFit(cut));
  EXPECT_TRUE(Lznt1ChunksFit(Bytes8{}));
  EXPECT_TRUE(Lznt1ChunksFit(Cat({RunChunk('A'), {0, 0}, {0xFF, 0xFF, 0xFF}})));
  // A token whose second byte is missing ends the chunk quietly.
  const Bytes8 halfToken = Cat({Header(3, true), {0x02, 'x', 0x05}});
  EXPECT_EQ(Lznt1Decompress(halfToken, out), 1u);
}

}  // namespace
}  // namespace restorix
