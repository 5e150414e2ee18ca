#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "signature/detectors/detectors.h"
#include "support/detector_bench.h"
#include "support/test_support.h"

namespace restorix {
namespace {

using Bytes8 = std::vector<std::uint8_t>;
using test::DetectorBench;

Bytes8 Real(const std::string& name) {
  return test::ReadFile(test::SourceFixture("carving-unit/" + name));
}

Bytes8 Cat(std::initializer_list<Bytes8> parts) {
  Bytes8 out;
  for (const auto& p : parts)
    out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes8 Text(const std::string& s) {
  return Bytes8(s.begin(), s.end());
}
Bytes8 Be16(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}
Bytes8 Be32(std::uint32_t v) {
  return Cat({Be16(v >> 16), Be16(v & 0xFFFF)});
}
Bytes8 Le32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

// Where a field of a 512-byte header sector goes.
void Put(Bytes8& sector, std::size_t at, const Bytes8& bytes) {
  if (sector.size() < at + bytes.size()) sector.resize(at + bytes.size(), 0);
  std::copy(bytes.begin(), bytes.end(), sector.begin() + static_cast<std::ptrdiff_t>(at));
}

std::uint64_t Sectors(std::size_t bytes, std::uint32_t sectorSize) {
  return (bytes + sectorSize - 1) / sectorSize;
}

// A record as the Signature file might hold it, with skip values the
// detectors that do not own them must leave alone.
SignatureRecord Stored() {
  SignatureRecord record;
  record.SetExtension("bin");
  record.skipLength = 4321;
  record.skipValid = 0;
  return record;
}

// --- The real files ---------------------------------------------------------

struct RealCase {
  const char* file;
  Detector detector;
  bool setsSkip;  // the detector owns skipLength/skipValid
};

class RealFileTest : public testing::TestWithParam<std::uint32_t> {};

// Each real file is carved where it has data after it and where it ends in
// the last sector of the source, at both usual sector sizes: the size found
// is the file's own.
TEST_P(RealFileTest, SizeIsTheFilesOwn) {
  const std::uint32_t sectorSize = GetParam();
  const RealCase cases[] = {
      {"baseline.jpg", DetectJpeg, true}, {"exif.jpg", DetectJpeg, true},
      {"image.png", DetectPng, true},     {"still87.gif", DetectGif, false},
      {"anim89.gif", DetectGif, false},   {"image.bmp", DetectBmp, false},
  };
  for (const RealCase& c : cases) {
    const Bytes8 file = Real(c.file);
    const std::uint64_t fileSectors = Sectors(file.size(), sectorSize);
    struct Placement {
      const char* where;
      std::uint64_t benchSectors, at;
    };
    const Placement placements[] = {
        {"mid-disk, junk after", 400, 37},
        {"last sectors of the source", 20 + fileSectors, 20},
    };
    for (const Placement& p : placements) {
      SCOPED_TRACE(std::string(c.file) + ", " + p.where);
      DetectorBench bench(p.benchSectors, sectorSize);
      bench.Place(p.at + fileSectors,
                  Bytes8((p.benchSectors - p.at - fileSectors) * sectorSize, 0x5A));
      bench.Place(p.at, file);
      ASSERT_EQ(bench.Run(c.detector, p.at, Stored()), 1u);
      EXPECT_EQ(bench.record().detectedSize, file.size());
      if (c.setsSkip) {
        EXPECT_EQ(bench.record().skipLength, file.size());
        EXPECT_EQ(bench.record().skipValid, 1);
      } else {
        EXPECT_EQ(bench.record().skipLength, 4321u);
        EXPECT_EQ(bench.record().skipValid, 0);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, RealFileTest, testing::Values(512u, 4096u));

TEST(JpegDetectorTest, ProgressiveIsRefused) {
  DetectorBench bench;
  bench.Place(10, Real("progressive.jpg"));
  EXPECT_EQ(bench.Run(DetectJpeg, 10), 0u);
}

// --- JPEG end search on made-up scans ---------------------------------------

// SOI, JFIF APP0, a frame header of the given code and size, a scan header,
// `dataBytes` of entropy-coded filler (no FF in it) and, if asked, EOI. The
// scan data begins at byte 53.
constexpr std::size_t kJpegHeader = 53;
Bytes8 Jpeg(std::uint16_t width, std::uint16_t height, std::size_t dataBytes, bool eoi,
            std::uint8_t frameCode = 0xC0) {
  const Bytes8 app0 = Cat({{0xFF, 0xE0, 0x00, 0x10}, Text("JFIF"), {0, 1, 1, 0, 0, 1, 0, 1, 0, 0}});
  const Bytes8 frame = Cat({{0xFF, frameCode, 0x00, 0x11, 0x08},
                            Be16(height),
                            Be16(width),
                            {0x03, 0x01, 0x22, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01}});
  const Bytes8 scan = {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00,
                       0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00};
  Bytes8 out = Cat({{0xFF, 0xD8}, app0, frame, scan, Bytes8(dataBytes, 0x5A)});
  if (eoi) out.insert(out.end(), {0xFF, 0xD9});
  return out;
}

TEST(JpegDetectorTest, EndSearch) {
  struct Case {
    const char* name;
    std::uint16_t width, height;
    std::size_t dataBytes;
    bool eoi;
    std::uint64_t benchSectors, at;
    std::uint32_t size;
    std::uint8_t skipValid;
  };
  const Case cases[] = {
      {"EOI in the first window", 64, 64, 1000, true, 400, 10, kJpegHeader + 1000 + 2, 1},
      // FF is the last byte of the first 64-sector window, D9 the first of
      // the next sector: only the overlapping second window sees the pair.
      {"EOI across the first window's end", 64, 64, 64 * 512 - 1 - kJpegHeader, true, 400, 10,
       64 * 512 + 1, 1},
      // 256 x 256 gives 192 sectors of estimate and windows up to sector 189.
      {"EOI in a later window of the span", 256, 256, 180 * 512, true, 400, 10,
       kJpegHeader + 180 * 512 + 2, 1},
      // 128 x 128: estimate 48 sectors, span two windows (127 sectors).
      {"EOI past the span gets the estimate", 128, 128, 130 * 512, true, 400, 10, 48 * 512, 0},
      {"no EOI, estimate past the source end", 256, 256, 2000, false, 100, 10, (90 - 1) * 512, 0},
      // The first window reaches past the last sector; it is searched all
      // the same.
      {"EOI in the last sector of the source", 256, 256, 40 * 512, true, 60, 19,
       kJpegHeader + 40 * 512 + 2, 1},
      // 65535 x 65535 x 3 overflows 32 bits; the estimate must not wrap to
      // something small.
      {"largest frame without EOI", 65535, 65535, 100, false, 64, 0, 63 * 512, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes8 jpeg = Jpeg(c.width, c.height, c.dataBytes, c.eoi);
    ASSERT_LE(c.at * 512 + jpeg.size(), c.benchSectors * 512);
    DetectorBench bench(c.benchSectors);
    bench.Place(c.at, jpeg);
    ASSERT_EQ(bench.Run(DetectJpeg, c.at, Stored()), 1u);
    EXPECT_EQ(bench.record().detectedSize, c.size);
    EXPECT_EQ(bench.record().skipLength, c.size);
    EXPECT_EQ(bench.record().skipValid, c.skipValid);
  }
}

TEST(JpegDetectorTest, HostileMarkerChainsEnd) {
  Bytes8 endless = {0xFF, 0xD8};
  while (endless.size() < 64 * 512)
    endless.insert(endless.end(), {0xFF, 0xE1, 0x00, 0x02});
  Bytes8 giant = {0xFF, 0xD8};
  for (int i = 0; i < 4; ++i)
    giant = Cat({giant, {0xFF, 0xE2, 0xFF, 0xFF}, Bytes8(0xFFFD, 0x77)});
  struct Case {
    const char* name;
    Bytes8 bytes;
  };
  const Case cases[] = {
      {"fill byte after SOI", {0xFF, 0xD8, 0xFF, 0xFF, 0x00, 0x10}},
      {"stuffed zero after SOI", {0xFF, 0xD8, 0xFF, 0x00, 0x00, 0x10}},
      {"no marker after the first segment",
       Cat({{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 1, 2}, {0x12, 0x34}})},
      {"scan before any baseline frame", Jpeg(64, 64, 100, true, 0xC2)},
      {"segments up to the end of the source", endless},
      {"segments of 65535 bytes walking off the source", giant},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DetectorBench bench(std::max<std::uint64_t>(16, Sectors(c.bytes.size(), 512)));
    bench.Place(0, c.bytes);
    EXPECT_EQ(bench.Run(DetectJpeg, 0), 0u);
  }
}

// --- PNG --------------------------------------------------------------------

TEST(PngDetectorTest, BrokenChunkEndsTheFileButIsConfirmed) {
  const Bytes8 png = Real("broken-chunk.png");
  const std::string text(png.begin(), png.end());
  const std::size_t broken = text.find("ID#T") - 4;  // the chunk's length field
  DetectorBench bench;
  bench.Place(8, png);
  ASSERT_EQ(bench.Run(DetectPng, 8), 1u);
  EXPECT_EQ(bench.record().detectedSize, broken);
  EXPECT_EQ(bench.record().skipLength, broken);
  EXPECT_EQ(bench.record().skipValid, 1);
}

TEST(PngDetectorTest, HeaderValuesAnEncoderCannotWriteAreRefused) {
  struct Case {
    const char* name;
    std::size_t at;
    Bytes8 value;
    bool confirmed;
  };
  const Case cases[] = {
      {"IHDR length 14", 8, Be32(14), false},
      {"not IHDR", 12, Text("IHDX"), false},
      {"width 0", 16, Be32(0), false},
      {"width 2^31", 16, Be32(0x80000000), false},
      {"height 2^31 - 1", 20, Be32(0x7FFFFFFF), true},
      {"height 0", 20, Be32(0), false},
      {"depth 0", 24, {0}, false},
      {"depth 1", 24, {1}, true},
      {"depth 3", 24, {3}, false},
      {"depth 16", 24, {16}, true},
      {"depth 18", 24, {18}, false},
      {"colour type 1", 25, {1}, false},
      {"colour type 6", 25, {6}, true},
      {"colour type 7", 25, {7}, false},
      {"compression 1", 26, {1}, false},
      {"filter 1", 27, {1}, false},
      {"interlace 1", 28, {1}, true},
      {"interlace 2", 28, {2}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes8 png = Real("image.png");
    Put(png, c.at, c.value);
    DetectorBench bench(64);
    bench.Place(0, png);
    EXPECT_EQ(bench.Run(DetectPng, 0), c.confirmed ? 1u : 0u);
  }
}

TEST(PngDetectorTest, ChunkLengths) {
  const Bytes8 png = Real("image.png");
  const Bytes8 head(png.begin(), png.begin() + 33);
  const Bytes8 text = Cat({Be32(3), Text("tEXtabc"), Be32(0)});  // 15 bytes
  struct Case {
    const char* name;
    Bytes8 chunks;
    std::uint32_t size;
  };
  const Case cases[] = {
      // The huge chunk is counted; the walk then reads zeros past the source.
      {"largest allowed length", Cat({text, Be32(0x7FFFFFFF), Text("IDAT")}),
       static_cast<std::uint32_t>(33 + 15 + 0x7FFFFFFFull + 12)},
      {"length with the top bit set", Cat({text, Be32(0x80000000), Text("IDAT")}), 33 + 15},
      {"type with a digit", Cat({text, Be32(0), Text("IDA7")}), 33 + 15},
      {"zeros after the header", {}, 33},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DetectorBench bench(64);
    bench.Place(3, Cat({head, c.chunks}));
    ASSERT_EQ(bench.Run(DetectPng, 3), 1u);
    EXPECT_EQ(bench.record().detectedSize, c.size);
  }
}

// --- GIF --------------------------------------------------------------------

// Header and logical screen with the given flags; a global colour table of
// the size the flags give follows.
Bytes8 GifHead(std::uint8_t flags) {
  Bytes8 out = Cat({Text("GIF89a"), {16, 0, 16, 0, flags, 0, 0}});
  if (flags & 0x80) out.resize(out.size() + (3u << ((flags & 7) + 1)), 0x33);
  return out;
}
// An image descriptor with the given flags (and local table), code size 2,
// then the data sub-blocks of the given sizes and the terminator.
Bytes8 GifImage(std::uint8_t flags, std::initializer_list<std::uint8_t> subBlocks) {
  Bytes8 out = {0x2C, 0, 0, 0, 0, 16, 0, 16, 0, flags};
  if (flags & 0x80) out.resize(out.size() + (3u << ((flags & 7) + 1)), 0x44);
  out.push_back(2);
  for (std::uint8_t size : subBlocks) {
    out.push_back(size);
    out.resize(out.size() + size, 0x66);
  }
  out.push_back(0);
  return out;
}
const Bytes8 kGraphicControl = {0x21, 0xF9, 0x04, 0x00, 0x0A, 0x00, 0x00, 0x00};

TEST(GifDetectorTest, BlockWalk) {
  struct Case {
    const char* name;
    Bytes8 bytes;
    std::size_t size;  // 0: up to and with the trailer, the whole of `bytes`
  };
  const Case cases[] = {
      {"one data sub-block", Cat({GifHead(0), GifImage(0, {5}), {0x3B}}), 0},
      {"sub-blocks of 255 and a short one",
       Cat({GifHead(0x80), GifImage(0, {255, 255, 9}), {0x3B}}), 0},
      {"a whole number of full sub-blocks", Cat({GifHead(0), GifImage(0, {255, 255}), {0x3B}}), 0},
      {"no image data at all", Cat({GifHead(0), GifImage(0, {}), {0x3B}}), 0},
      {"256-colour global and 4-colour local tables",
       Cat({GifHead(0x87),
            kGraphicControl,
            GifImage(0x81, {40}),
            kGraphicControl,
            GifImage(0x81, {254, 254, 30}),
            {0x3B}}),
       0},
      {"comment of two sub-blocks",
       Cat({GifHead(0), {0x21, 0xFE, 3, 'a', 'b', 'c', 2, 'd', 'e', 0}, GifImage(0, {7}), {0x3B}}),
       0},
      {"unknown block ends the file before it", Cat({GifHead(0), GifImage(0, {7}), {0x99, 0x3B}}),
       13 + 10 + 1 + 8 + 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DetectorBench bench(64);
    bench.Place(5, Cat({c.bytes, Bytes8(600, 0x3B)}));
    ASSERT_EQ(bench.Run(DetectGif, 5), 1u);
    EXPECT_EQ(bench.record().detectedSize, c.size ? c.size : c.bytes.size());
  }
}

TEST(GifDetectorTest, WalksStopAtTheEndOfTheSource) {
  // A signature followed by nothing but zeros.
  {
    DetectorBench bench(4096);
    bench.Place(100, Text("GIF89a"));
    ASSERT_EQ(bench.Run(DetectGif, 100), 1u);
    EXPECT_EQ(bench.record().detectedSize, (4096 - 100) * 512u);
  }
  // Image data whose sub-blocks never change size up to the end of the source.
  {
    Bytes8 gif = Cat({GifHead(0), {0x2C, 0, 0, 0, 0, 16, 0, 16, 0, 0, 2}});
    gif.resize(64 * 512, 0x01);
    DetectorBench bench(64);
    bench.Place(0, gif);
    ASSERT_EQ(bench.Run(DetectGif, 0), 1u);
    EXPECT_GE(bench.record().detectedSize, 64 * 512u);
  }
}

// --- Compound documents -----------------------------------------------------

TEST(CompoundDocumentDetectorTest, RealDocumentsAreFiledByTheirMainStream) {
  const std::pair<const char*, const char*> cases[] = {
      {"word.doc", "doc"}, {"sheet.xls", "xls"}, {"slides.ppt", "ppt"}};
  for (const auto& [file, extension] : cases) {
    SCOPED_TRACE(file);
    DetectorBench bench;
    bench.Place(40, Real(file));
    SignatureRecord record = Stored();
    record.SetExtension("ole");
    ASSERT_EQ(bench.Run(DetectCompoundDocument, 40, record), 1u);
    EXPECT_EQ(bench.record().ext(), extension);
    // One allocation-table sector (128 sectors mapped) and the header; the
    // skip ends after the directory in sector 1.
    EXPECT_EQ(bench.record().detectedSize, 129u * 512);
    EXPECT_EQ(bench.record().skipLength, 3u * 512);
    EXPECT_EQ(bench.record().skipValid, 1);
  }
}

// A header with the allocation-table count and directory sector, and the
// directory (names only) in sector `directory + 1`.
Bytes8 Compound(std::uint32_t tableSectors, std::uint32_t directory,
                std::initializer_list<std::u16string> names) {
  Bytes8 out(512, 0);
  Put(out, 0, {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1});
  Put(out, 44, Le32(tableSectors));
  Put(out, 48, Le32(directory));
  std::size_t at = (std::size_t{directory} + 1) * 512;
  for (const std::u16string& name : names) {
    Bytes8 raw;
    for (char16_t ch : name)
      raw.insert(raw.end(), {static_cast<std::uint8_t>(ch), static_cast<std::uint8_t>(ch >> 8)});
    Put(out, at, raw);
    Put(out, at + 127, {0});
    at += 128;
  }
  return out;
}

TEST(CompoundDocumentDetectorTest, Directory) {
  struct Case {
    const char* name;
    Bytes8 bytes;
    bool confirmed;
    const char* extension;
  };
  const Case cases[] = {
      {"WordDocument third", Compound(1, 3, {u"Root Entry", u"1Table", u"WordDocument"}), true,
       "doc"},
      {"Workbook second", Compound(1, 0, {u"Root Entry", u"Workbook"}), true, "xls"},
      {"WordDocument fifth is not looked at",
       Compound(1, 2, {u"Root Entry", u"A", u"B", u"C", u"WordDocument"}), true, "ppt"},
      {"no Root Entry", Compound(1, 1, {u"Data", u"WordDocument"}), false, ""},
      {"root in 8-bit text", Cat({Compound(1, 0, {}), Text("Root Entry")}), false, ""},
      {"directory past the end of the source", Compound(1, 0xFFFFFFFE, {}), false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DetectorBench bench(64);
    bench.Place(2, c.bytes);
    SignatureRecord record;
    record.SetExtension("ole");
    ASSERT_EQ(bench.Run(DetectCompoundDocument, 2, record), c.confirmed ? 1u : 0u);
    if (c.confirmed) {
      EXPECT_EQ(bench.record().ext(), c.extension);
    }
  }
}

TEST(CompoundDocumentDetectorTest, SizesAreWorkedOutInSixtyFourBits) {
  struct Case {
    std::uint32_t tableSectors, directory, size, skip;
  };
  const Case cases[] = {
      {3, 7, (3 * 128 + 1) * 512, 9 * 512},
      // (2^23 x 128 + 1) x 512 = 2^39 + 512 does not fit: held at the most
      // the field can say, never wrapped to something small.
      {0x00800000, 0, 0xFFFFFFFF, 2 * 512},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tableSectors);
    DetectorBench bench(64);
    bench.Place(0, Compound(c.tableSectors, c.directory, {u"Root Entry"}));
    ASSERT_EQ(bench.Run(DetectCompoundDocument, 0), 1u);
    EXPECT_EQ(bench.record().detectedSize, c.size);
    EXPECT_EQ(bench.record().skipLength, c.skip);
  }
}

// --- Atom chains ------------------------------------------------------------

Bytes8 Atom(const std::string& type, std::uint32_t size) {
  Bytes8 out = Cat({Be32(size), Text(type)});
  out.resize(std::max<std::size_t>(size, 8), 0x41);
  return out;
}

TEST(AtomChainDetectorTest, StoppingRules) {
  struct Case {
    const char* name;
    Bytes8 bytes;
    std::uint64_t benchSectors, at;
    std::uint32_t size;
  };
  const Bytes8 start = Cat({Atom("ftyp", 24), Atom("moov", 100)});
  const Case cases[] = {
      {"zero size after the chain", Cat({start, Atom("mdat", 1000)}), 64, 4, 1124},
      {"uppercase type", Cat({start, Atom("MDAT", 1000)}), 64, 4, 124},
      {"type with a digit", Cat({start, Atom("mp4a", 1000)}), 64, 4, 124},
      {"atom past the end of the source", Cat({start, Be32(0x7FFFFFF0), Text("mdat")}), 64, 4, 124},
      // The last atom ends exactly with the last sector.
      {"chain filling the last sectors", Cat({Atom("ftyp", 24), Atom("mdat", 4 * 512 - 24)}), 64,
       60, 4 * 512},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DetectorBench bench(c.benchSectors);
    bench.Place(c.at, c.bytes);
    ASSERT_EQ(bench.Run(DetectAtomChain, c.at, Stored()), 1u);
    EXPECT_EQ(bench.record().detectedSize, c.size);
    EXPECT_EQ(bench.record().skipLength, 4321u);
    EXPECT_EQ(bench.record().skipValid, 0);
  }
}

// --- Header arithmetic ------------------------------------------------------

TEST(HeaderSizeDetectorTest, SizeAtFour) {
  const std::pair<std::uint32_t, std::uint32_t> cases[] = {
      {1000, 3048}, {0, 2048}, {0xFFFFFFFF, 2047}};  // the last wraps to its low 32 bits
  for (const auto& [stored, size] : cases) {
    SCOPED_TRACE(stored);
    Bytes8 sector(512, 0);
    Put(sector, 4, Le32(stored));
    DetectorBench bench(16);
    bench.Place(1, sector);
    ASSERT_EQ(bench.Run(DetectSizeAt4, 1), 1u);
    EXPECT_EQ(bench.record().detectedSize, size);
  }
}

TEST(HeaderSizeDetectorTest, RasterHeader) {
  struct Case {
    std::uint32_t header;
    std::uint16_t width, height;
    std::uint8_t depth;
    std::uint32_t size;
  };
  const Case cases[] = {
      {32, 3, 5, 1, 2 + 8 + 32},  // 15 bits round up to 2 bytes
      {100, 7, 1, 1, 1 + 8 + 100},
      {0, 640, 480, 24, 921600 + 8},
      {64, 640, 480, 0, 8 + 64},
      // 65535 x 65535 x 255 bits: computed in 64 bits, low 32 bits kept.
      {0xFFFFFFFF, 0xFFFF, 0xFFFF, 255, 3753918503u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    Bytes8 sector(512, 0);
    Put(sector, 4, Be32(c.header));
    Put(sector, 24, Cat({Be16(c.width), Be16(c.height)}));
    Put(sector, 32, {c.depth});
    DetectorBench bench(16);
    bench.Place(2, sector);
    ASSERT_EQ(bench.Run(DetectRasterHeader, 2), 1u);
    EXPECT_EQ(bench.record().detectedSize, c.size);
  }
}

// --- Cancellation -----------------------------------------------------------

// With keepRunning cleared the walks stop at once and report what they have.
TEST(DetectorCancelTest, WalksReportWhatTheyMeasured) {
  DetectorBench bench;
  bench.Place(0, Real("baseline.jpg"));
  bench.Place(100, Real("image.png"));
  bench.Place(200, Real("still87.gif"));
  bench.Open();
  bench.engine.keepRunning = 0;

  ASSERT_EQ(bench.Run(DetectJpeg, 0), 1u);
  EXPECT_EQ(bench.record().skipValid, 0) << "no EOI was looked for";
  ASSERT_EQ(bench.Run(DetectPng, 100), 1u);
  EXPECT_EQ(bench.record().detectedSize, 33u);
  ASSERT_EQ(bench.Run(DetectGif, 200), 1u);
  EXPECT_EQ(bench.record().detectedSize, 13u + 3 * 32);
}

}  // namespace
}  // namespace restorix
