// Writing an NTFS item's data back: resident, plain, sparse, split over
// several attributes and compressed, always exactly the file's bytes.
#include "fs/ntfs_data.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "fs/scan.h"
#include "support/ntfs_volume.h"
#include "support/test_support.h"

namespace restorix {
namespace {

using test::EncodeRunList;
using test::FileRecord;
using test::MemoryNtfsVolume;
using Bytes8 = std::vector<std::uint8_t>;

Bytes8 Filled(std::size_t n, std::uint8_t seed) {
  Bytes8 b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 4096);
  return b;
}

Bytes8 Cat(std::initializer_list<Bytes8> parts) {
  Bytes8 out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Scans the volume and writes the data of the first item named `name`.
Bytes8 Recover(const MemoryNtfsVolume& volume, const std::u16string& name,
               test::FakeSource** source = nullptr, std::function<void()> beforeWrite = {}) {
  Engine engine;
  EXPECT_TRUE(volume.Open(engine, source));
  engine.keepRunning = 1;
  RunScan(engine, false, nullptr);
  const ItemNode* item = nullptr;
  WalkTree(engine.treeRoot, [&](const ItemNode& n, int) {
    if (!item && n.name == name) item = &n;
  });
  EXPECT_NE(item, nullptr);
  if (!item) return {};
  if (beforeWrite) beforeWrite();
  test::TempDir dir;
  const int fd = ::open((dir / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  WriteNtfsData(engine, *item, fd);
  ::close(fd);
  return test::ReadFile(dir / "out");
}

TEST(WriteNtfsDataTest, ResidentAndPlainData) {
  MemoryNtfsVolume v;
  auto small = FileRecord(0, 5, u"small.txt");
  small.Resident(0x80, Bytes8{'h', 'i', '!'}, 3);
  v.Record(20, small.Build());

  const Bytes8 content = Filled(3 * 4096, 1);
  v.Cluster(300, content);
  struct Case {
    const char* name;
    std::uint64_t size;
    std::uint64_t clusters;
  };
  const Case cases[] = {{"one-cluster", 4096, 1}, {"two-clusters", 8192, 2}, {"5000", 5000, 2},
                        {"12287", 12287, 3}};
  std::uint32_t record = 21;
  for (const Case& c : cases) {
    auto file = FileRecord(0, 5, std::u16string(c.name, c.name + std::strlen(c.name)));
    file.NonResident(0x80, 0, c.clusters - 1, EncodeRunList({{c.clusters, 300}}), c.size, 3);
    v.Record(record++, file.Build());
  }
  EXPECT_EQ(Recover(v, u"small.txt"), (Bytes8{'h', 'i', '!'}));
  for (const Case& c : cases) {
    const Bytes8 got = Recover(v, std::u16string(c.name, c.name + std::strlen(c.name)));
    EXPECT_EQ(got, Bytes8(content.begin(), content.begin() + c.size)) << c.name;
  }
}

TEST(WriteNtfsDataTest, SparseRunsAndGapsReadAsZerosInPlace) {
  MemoryNtfsVolume v;
  const Bytes8 a = Filled(4096, 3), b = Filled(4096, 9);
  v.Cluster(400, a);
  v.Cluster(401, b);
  auto file = FileRecord(0, 5, u"sparse.bin");
  // One cluster of data, two sparse clusters, one more cluster.
  file.NonResident(0x80, 0, 3, EncodeRunList({{1, 400}, {2, 0}, {1, 1}}), 4 * 4096 - 10, 3);
  v.Record(20, file.Build());
  EXPECT_EQ(Recover(v, u"sparse.bin"),
            Cat({a, Bytes8(2 * 4096, 0), Bytes8(b.begin(), b.end() - 10)}));
}

TEST(WriteNtfsDataTest, DataSplitOverAttributesIsWrittenOnceAndCutAtItsSize) {
  MemoryNtfsVolume v;
  const Bytes8 first = Filled(2 * 4096, 4), second = Filled(2 * 4096, 8);
  v.Cluster(500, first);
  v.Cluster(600, second);
  auto file = FileRecord(0, 5, u"split.bin");
  file.NonResident(0x80, 0, 1, EncodeRunList({{2, 500}}), 3 * 4096 + 5, 3);
  file.NonResident(0x80, 2, 3, EncodeRunList({{2, 600}}), 0, 4);
  file.Resident(0x80, Bytes8{'s', 't', 'r'}, 5, u"side");  // another stream, not this one's
  v.Record(20, file.Build());
  EXPECT_EQ(Recover(v, u"split.bin"), Cat({first, Bytes8(second.begin(), second.begin() + 4096 + 5)}));
}

TEST(WriteNtfsDataTest, UnreadableClustersAreZerosAndTheRestFollows) {
  MemoryNtfsVolume v;
  const Bytes8 content = Filled(3 * 4096, 5);
  v.Cluster(700, content);
  auto file = FileRecord(0, 5, u"bad.bin");
  file.NonResident(0x80, 0, 2, EncodeRunList({{3, 700}}), 3 * 4096, 3);
  v.Record(20, file.Build());
  test::FakeSource* source = nullptr;
  Bytes8 expected = content;
  std::fill(expected.begin() + 4096, expected.begin() + 4096 + 512, 0);
  const Bytes8 got = Recover(v, u"bad.bin", &source, [&] {
    source->FailRange(701 * 4096, 512, EIO);
  });
  EXPECT_EQ(got, expected);
}

TEST(WriteNtfsDataTest, ARecordChangedSinceTheScanEndsTheItem) {
  MemoryNtfsVolume v;
  v.Cluster(800, Filled(4096, 6));
  auto file = FileRecord(0, 5, u"gone.bin");
  file.NonResident(0x80, 0, 0, EncodeRunList({{1, 800}}), 4096, 3);
  v.Record(20, file.Build());
  test::FakeSource* source = nullptr;
  EXPECT_TRUE(Recover(v, u"gone.bin", &source, [&] {
                source->bytes()[v.RecordSector(20) * 512] = 'X';  // no longer "FILE"
              }).empty());
}

// 512-byte clusters and compression units of 16 clusters (8 KiB, two LZNT1
// chunks each).
TEST(WriteNtfsDataTest, CompressedUnitsStoredCompressedSparseAndCutShort) {
  MemoryNtfsVolume v(1, 128);
  const auto runChunk = [](std::uint8_t c) { return Bytes8{0x03, 0xB0, 0x02, c, 0xFC, 0x0F}; };
  const Bytes8 unitAB = Cat({runChunk('A'), runChunk('B'), {0, 0}});
  const Bytes8 unitC = Cat({runChunk('C'), {0, 0}});
  const Bytes8 stored = Filled(8192, 2);
  const Bytes8 tail = Filled(3 * 512, 7);
  v.Cluster(1000, unitAB);
  v.Cluster(1100, stored);
  v.Cluster(1200, unitC);
  v.Cluster(1300, tail);
  auto file = FileRecord(0, 5, u"packed.bin");
  // unit 0: compressed (1 cluster + 15 sparse); unit 1: stored whole;
  // unit 2: all sparse; unit 3: compressed; unit 4: three clusters that the
  // runs leave unfinished.
  const auto runs = EncodeRunList({{1, 1000}, {15, 0}, {16, 100}, {16, 0}, {1, 100},
                                   {15, 0}, {3, 100}});
  const std::uint64_t size = 4 * 8192 + 3 * 512 - 100;
  file.NonResident(0x80, 0, 66, runs, size, 3, 0x0001, 4);
  v.Record(20, file.Build());
  const Bytes8 expected = Cat({Bytes8(4096, 'A'), Bytes8(4096, 'B'), stored, Bytes8(8192, 0),
                               Bytes8(4096, 'C'), Bytes8(4096, 0),
                               Bytes8(tail.begin(), tail.end() - 100)});
  EXPECT_EQ(Recover(v, u"packed.bin"), expected);
}

}  // namespace
}  // namespace restorix

namespace restorix {
namespace {

// A compressed file whose data the file system split over two attributes,
// the cut falling inside a compression unit: the unit is gathered across
// the cut and decompressed whole.
TEST(WriteNtfsDataTest, ACompressionUnitSplitBetweenAttributes) {
  MemoryNtfsVolume v(1, 128);
  const Bytes8 unit = {0x03, 0xB0, 0x02, 'Q', 0xFC, 0x0F, 0x03, 0xB0, 0x02, 'R', 0xFC, 0x0F, 0, 0};
  v.Cluster(1500, unit);
  auto file = FileRecord(0, 5, u"split-unit.bin");
  file.NonResident(0x80, 0, 3, EncodeRunList({{1, 1500}, {3, 0}}), 8192, 3, 0x0001, 4);
  file.NonResident(0x80, 4, 15, EncodeRunList({{12, 0}}), 0, 4, 0x0001, 4);
  v.Record(20, file.Build());
  EXPECT_EQ(Recover(v, u"split-unit.bin"), Cat({Bytes8(4096, 'Q'), Bytes8(4096, 'R')}));
}

}  // namespace
}  // namespace restorix
