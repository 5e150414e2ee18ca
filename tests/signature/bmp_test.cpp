// Bitmaps of every info-header kind (OS/2, 40, 52, 56, V4, V5) with and
// without colour tables: what the BMP detector confirms and the size it
// gives, and that the search with the type table finds the bitmaps
// ImageMagick writes.
#include <gtest/gtest.h>

#include <fstream>

#include "disk/volume.h"
#include "signature/detectors/detectors.h"
#include "signature/search.h"
#include "signature/signature_file.h"
#include "support/detector_bench.h"
#include "support/fake_source.h"
#include "support/test_support.h"
#include "util/text.h"

namespace restorix {
namespace {

using ByteVector = std::vector<std::uint8_t>;

struct Shape {
  std::uint32_t header = 40;
  std::uint16_t bits = 24;
  std::uint32_t colours = 0;  // entries of the colour table
  std::uint32_t compression = 0;
  std::int32_t width = 33, height = 17;
  std::uint32_t masks = 0;     // bytes of colour masks after a 40-byte header
  std::int64_t fileSize = -1;  // -1: the real one
};

std::uint32_t PixelOffset(const Shape& s) {
  return 14 + s.header + s.masks + s.colours * (s.header == 12 ? 3 : 4);
}
std::uint64_t FileSize(const Shape& s) {
  const std::uint64_t rowBytes = (std::uint64_t{std::uint32_t(s.width)} * s.bits + 31) / 32 * 4;
  const std::uint64_t rows = s.height < 0 ? -std::int64_t{s.height} : s.height;
  return PixelOffset(s) + rowBytes * rows;
}

// A bitmap of the shape, its pixels 0x5A, cut at 32 KiB.
ByteVector Bitmap(const Shape& s) {
  const bool core = s.header == 12;
  const std::uint32_t pixels = PixelOffset(s);
  ByteVector b(std::min<std::uint64_t>(FileSize(s), 32 * 1024), 0x5A);
  std::fill(b.begin(), b.begin() + pixels, 0);
  b[0] = 'B', b[1] = 'M';
  StoreLE<std::uint32_t>(
      b, 2, static_cast<std::uint32_t>(s.fileSize < 0 ? FileSize(s) : std::uint64_t(s.fileSize)));
  StoreLE<std::uint32_t>(b, 10, pixels);
  StoreLE<std::uint32_t>(b, 14, s.header);
  if (core) {
    StoreLE<std::uint16_t>(b, 18, static_cast<std::uint16_t>(s.width));
    StoreLE<std::uint16_t>(b, 20, static_cast<std::uint16_t>(s.height));
    StoreLE<std::uint16_t>(b, 22, 1);
    StoreLE<std::uint16_t>(b, 24, s.bits);
  } else {
    StoreLE<std::uint32_t>(b, 18, static_cast<std::uint32_t>(s.width));
    StoreLE<std::uint32_t>(b, 22, static_cast<std::uint32_t>(s.height));
    StoreLE<std::uint16_t>(b, 26, 1);
    StoreLE<std::uint16_t>(b, 28, s.bits);
    StoreLE<std::uint32_t>(b, 30, s.compression);
  }
  return b;
}

TEST(BmpDetectorTest, HeaderKindsPalettesAndSizes) {
  const struct {
    const char* what;
    Shape shape;
    std::int64_t size;  // -1: the file's own; 0: refused
  } cases[] = {
      {"40-byte header, 24 bits", {}, -1},
      {"OS/2 header, 256 colours of 3 bytes", {12, 8, 256}, -1},
      {"OS/2 header, 24 bits", {12, 24}, -1},
      {"40-byte header, 16 colours", {40, 4, 16}, -1},
      {"40-byte header, 2 colours", {40, 1, 2}, -1},
      {"40-byte header, 16 bits with masks", {40, 16, 0, 3, 33, 17, 12}, -1},
      {"40-byte header, 32 bits with alpha masks", {40, 32, 0, 6, 33, 17, 16}, -1},
      {"52-byte header", {52, 32}, -1},
      {"56-byte header, 256 colours", {56, 8, 256}, -1},
      {"V4 header, 16 colours", {108, 4, 16}, -1},
      {"V5 header, 24 bits", {124, 24}, -1},
      {"V5 header, 256 colours", {124, 8, 256}, -1},
      {"top-down rows", {40, 24, 0, 0, 33, -17}, -1},
      // A colour profile after the pixels counts in the header's size.
      {"size past the pixels", {124, 24, 0, 0, 33, 17, 0, 138 + 1700 + 3000}, 138 + 1700 + 3000},
      // A size too small for the pixels gives way to the pixels' end.
      {"size 0", {40, 24, 0, 0, 33, 17, 0, 0}, 54 + 100 * 17},
      {"RLE-compressed, size 0: the pixels' stated length", {40, 8, 256, 1, 33, 17, 0, 0}, 1078},
      // 2^32 - 1 pixels wide, 2^31 - 1 rows: held at the most, never wrapped.
      {"rows past 64 bits", {40, 32, 0, 0, -1, 0x7FFFFFFF, 0, 100}, 0xFFFFFFFF},
      {"64-byte OS/2 2.x header", {64, 24}, 0},
      {"bit count 3", {40, 3}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::DetectorBench bench(128);
    bench.Place(0, Bitmap(c.shape));
    const std::uint64_t want = c.size < 0 ? FileSize(c.shape) : std::uint64_t(c.size);
    EXPECT_EQ(bench.Run(DetectBmp, 0) ? bench.record().detectedSize : 0, want);
  }
  // Damage to the fixed fields refuses the hit.
  const ByteVector good = Bitmap({});
  const std::pair<const char*, ByteVector> refused[] = {
      {"not BM", test::With(good, 0, {'B', 'A'})},
      {"reserved words not 0", test::With(good, 6, {1})},
      {"two planes", test::With(good, 26, {2})},
      {"pixels inside the header", test::With(good, 10, {40})},
  };
  for (const auto& [what, bytes] : refused) {
    test::DetectorBench bench;
    bench.Place(0, bytes);
    EXPECT_EQ(bench.Run(DetectBmp, 0), 0u) << what;
  }
}

// The bitmaps ImageMagick writes for each of its BMP flavours, found by the
// search with the type table at their sectors, each with its own size.
TEST(BmpSearchTest, FindsTheBitmapsImageMagickWrites) {
  if (!test::HaveTool("convert")) GTEST_SKIP() << "ImageMagick's convert is not installed";
  test::TempDir dir;
  const std::pair<const char*, const char*> made[] = {
      {"BMP3:v3.bmp", ""},
      {"BMP2:os2.bmp", ""},
      {"BMP:v5.bmp", ""},
      {"BMP2:os2-16.bmp", "-colors 16 -type palette"},
      {"BMP3:v3-16.bmp", "-colors 16 -type palette"},
      {"BMP:v5-16.bmp", "-colors 16 -type palette"},
      {"BMP3:v3-256.bmp", "-colors 256 -type palette"},
      {"BMP3:mono.bmp", "-type bilevel"},
  };
  ByteVector image(64 * 512, 0);
  std::vector<std::pair<std::string, std::uint64_t>> placed;  // name, size
  for (const auto& [target, options] : made) {
    const std::string name = std::string(target).substr(std::string(target).find(':') + 1);
    const auto path = dir / name;
    test::RunOk(std::string("cd ") + test::Quote(dir.path().string()) + " && convert -size 40x30 " +
                "plasma:fractal -seed 7 " + options + " " + target + " 2>/dev/null");
    const ByteVector file = test::ReadFile(path);
    ASSERT_FALSE(file.empty()) << name;
    placed.emplace_back(name, file.size());
    image.insert(image.end(), file.begin(), file.end());
    image.resize((image.size() + 511) / 512 * 512 + 8 * 512, 0);
  }
  std::ifstream tsv(test::SourceFixture("../../data/signatures.tsv"));
  std::vector<SignatureRecord> bitmaps;
  for (const SignatureRecord& r : ParseSignatureTable(tsv))
    if (r.ext() == "bmp") bitmaps.push_back(r);
  const auto volume =
      Volume::Open(SourceKind::PhysicalDisk, std::make_shared<test::FakeSource>(image), u"bitmaps")
          .volume;
  ASSERT_TRUE(volume);
  const test::ScanRun scan = test::ScanVolume(*volume, ScanMode::Advanced, bitmaps);
  std::vector<std::uint64_t> found;
  WalkTree(scan.tree.root(), [&](const ItemNode& node, int) {
    if (!node.isFolder()) found.push_back(node.size);
  });
  std::sort(found.begin(), found.end());
  std::vector<std::uint64_t> expected;
  for (const auto& [name, size] : placed)
    expected.push_back(size);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(found, expected);
}

}  // namespace
}  // namespace restorix
