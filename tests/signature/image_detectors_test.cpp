// JPEG, PNG, GIF and compound-document edge cases laid out here; the real
// files of every detector are in audio_tiff_detectors_test.cpp.
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

using test::DetectorBench;
using ByteVector = std::vector<std::uint8_t>;

using test::Unit;
using test::With;

// SOI, an empty APP0, a baseline frame of side x side pixels, a scan header,
// `data` filler bytes and, if asked, EOI. The scan data begins at byte 29.
ByteVector Jpeg(std::uint16_t side, std::size_t data, bool eoi) {
  const auto hi = static_cast<std::uint8_t>(side >> 8), lo = static_cast<std::uint8_t>(side);
  const ByteVector header = {0xFF, 0xD8, 0xFF, 0xE0, 0,  2, 0xFF, 0xC0, 0, 11,
                             8,    hi,   lo,   hi,   lo, 1, 1,    0x11, 0, 0xFF,
                             0xDA, 0,    8,    1,    1,  0, 0,    0x3F, 0};
  ByteVector out(header.size() + data + (eoi ? 2 : 0), 0x5A);
  std::copy(header.begin(), header.end(), out.begin());
  if (eoi) out[out.size() - 2] = 0xFF, out.back() = 0xD9;
  return out;
}

// A 16 x 16 GIF89a screen, no colour table, and an image up to its LZW code
// size: its data sub-blocks begin at byte 24.
const ByteVector kGif = {'G', 'I',  'F', '8', '9', 'a', 16, 0, 16, 0, 0, 0,
                         0,   0x2C, 0,   0,   0,   0,   16, 0, 16, 0, 0, 2};

// Each case at the start of a source of 64 sectors (more if it needs them).
// Hostile inputs among them must end without reading out of bounds.
TEST(ImageDetectorTest, EdgeCases) {
  const ByteVector png = Unit("image.png"), broken = Unit("broken-chunk.png"),
                   doc = Unit("word.doc");
  const auto brokenAt =
      static_cast<std::uint32_t>(std::string(broken.begin(), broken.end()).find("ID#T") - 4);
  ByteVector endless = {0xFF, 0xD8};
  while (endless.size() < 64 * 512)
    endless.insert(endless.end(), {0xFF, 0xE1, 0x00, 0x02});
  const struct {
    const char* what;
    Detector detector;
    ByteVector bytes;
    std::uint32_t size;  // 0: refused
    int skipValid;
  } cases[] = {
      // 64 x 64: FF ends the first 64-sector window searched, D9 begins the next.
      {"EOI across two windows", DetectJpeg, Jpeg(64, 64 * 512 - 30, true), 64 * 512 + 1, 1},
      // 128 x 128: 48 sectors estimated, EOI looked for up to sector 127.
      {"EOI past the search: the estimate", DetectJpeg, Jpeg(128, 130 * 512, true), 48 * 512, 0},
      // 37838^2 x 3 passes 2^32 by little: the estimate must not wrap.
      {"no EOI, estimate past the source", DetectJpeg, Jpeg(37838, 200 * 512, false), 200 * 512, 0},
      {"APP1 segments to the end of the source", DetectJpeg, endless, 0, 0},
      {"a broken chunk ends the PNG", DetectPng, broken, brokenAt, 1},
      {"PNG chunk length 2^31", DetectPng, With(png, 33, {0x80, 0, 0, 0}), 33, 1},
      {"PNG chunk length 2^31 - 1", DetectPng, With(png, 33, {0x7F, 0xFF, 0xFF, 0xFF}),
       33u + 0x7FFFFFFF + 12, 1},
      {"PNG bit depth 3", DetectPng, With(png, 24, {3}), 0, 0},
      {"GIF image without data", DetectGif, With(kGif, 24, {0, 0x3B}), 26, 0},
      {"GIF of zeros", DetectGif, {'G', 'I', 'F', '8', '9', 'a'}, 64 * 512, 0},
      {"GIF sub-blocks of one byte past the source", DetectGif,
       With(ByteVector(64 * 512, 1), 0, kGif), 64 * 512 + 1, 0},
      {"compound directory past the source", DetectCompoundDocument,
       With(doc, 48, {0xFE, 0xFF, 0xFF, 0xFF}), 0, 0},
      // (2^23 x 128 + 1) x 512 passes 32 bits: held at the most, never wrapped.
      {"2^23 allocation-table sectors", DetectCompoundDocument, With(doc, 44, {0, 0, 0x80, 0}),
       0xFFFFFFFF, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DetectorBench bench(std::max<std::uint64_t>(64, (c.bytes.size() + 511) / 512));
    bench.Place(0, c.bytes);
    EXPECT_EQ(bench.Run(c.detector, 0) ? bench.record().detectedSize : 0, c.size);
    EXPECT_EQ(bench.record().skipValid, c.skipValid);
  }
}

}  // namespace
}  // namespace restorix
