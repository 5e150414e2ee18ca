// Every detector on the real files of tests/fixtures/carving-unit; then MPEG
// audio, WAVE, MIDI, program-stream and TIFF edge cases laid out here.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
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

using test::Cat;
using test::Unit;
using test::With;

// The size `detector` confirms for `bytes` at the start of a source of 64
// sectors (more if they need it); 0 when it refuses them.
std::uint32_t Confirmed(Detector detector, const ByteVector& bytes) {
  DetectorBench bench(std::max<std::uint64_t>(64, (bytes.size() + 511) / 512));
  bench.Place(0, bytes);
  return bench.Run(detector, 0) ? bench.record().detectedSize : 0;
}

template <TiffVariant V>
std::uint32_t Tiff(DetectorContext& context, std::uint64_t hit, SignatureRecord& record) {
  return DetectTiffFamily(context, hit, record, V);
}
constexpr Detector kTiff = Tiff<TiffVariant::Generic>, kLeTiff = Tiff<TiffVariant::LittleEndian>,
                   kCr2 = Tiff<TiffVariant::Cr2>, kNef = Tiff<TiffVariant::Nef>;

constexpr std::int64_t kRefused = INT64_MIN;
enum Skip { kKept, kSize, kFileEnd };  // skipLength: left at 0 (skipValid 0), the size, the file

const struct RealFile {
  const char* name;
  Detector detector;
  std::int64_t plus;  // the size found less the file's size, or kRefused
  Skip skip;
  const char* extension = "";
} kRealFiles[] = {
    {"tagged-44k.mp3", DetectMpegAudio, -128, kSize},  // the ID3v1 tag at the back is no frame
    {"bare-44k.mp3", DetectMpegAudio, 0, kSize},
    {"mpeg2-22k.mp3", DetectMpegAudio, 0, kSize},  // Layer III at low rates: 576 samples a frame
    {"mpeg25-8k.mp3", DetectMpegAudio, 0, kSize},
    {"crc-44k.mp3", DetectMpegAudio, 0, kSize},       // the CRC lies inside the frame length
    {"mp3-in-riff.wav", DetectMpegAudio, -1, kSize},  // the data chunk's pad byte is no frame
    {"mp3-in-riff.wav", DetectWave, 0, kSize},        // carved to the RIFF length, pad byte too
    {"pcm-8k.wav", DetectWave, 0, kKept},
    {"two-tracks.mid", DetectMidi, 2, kSize},                       // two bytes of slack
    {"program-stream.mpg", DetectMpegProgramStream, 0, kKept},      // no end code
    {"program-stream-end.mpg", DetectMpegProgramStream, 0, kKept},  // B9 ends the last pack
    {"gradient-le.tif", kTiff, 0, kSize},  // the IFD last, then its out-of-line values
    {"gradient-le.tif", kLeTiff, 0, kSize},
    {"gradient-be.tif", kTiff, 0, kSize},
    {"gradient-be.tif", kLeTiff, kRefused, kKept},
    {"cr2-shaped.tif", kCr2, 0, kSize},
    {"nef-shaped.tif", kNef, 0, kSize},          // the second sub-IFD's raw strip ends it
    {"cr2-shaped.tif", kTiff, kRefused, kKept},  // raw files are left to their own types
    {"nef-shaped.tif", kTiff, kRefused, kKept},
    {"baseline.jpg", DetectJpeg, 0, kSize},
    {"exif.jpg", DetectJpeg, 0, kSize},  // the thumbnail's FF D9 in APP1 does not end it
    {"progressive.jpg", DetectJpeg, kRefused, kKept},
    {"image.png", DetectPng, 0, kSize},
    {"still87.gif", DetectGif, 0, kKept},
    {"anim89.gif", DetectGif, 0, kKept},  // frames whose data fits one sub-block
    {"image.bmp", DetectBmp, 0, kKept},
    // 129 sectors (one allocation-table sector maps 128, and the header) less
    // the file's 3; the skip ends with the directory, which ends the file.
    {"word.doc", DetectCompoundDocument, 129 * 512 - 1536, kFileEnd, "doc"},
    {"sheet.xls", DetectCompoundDocument, 129 * 512 - 1536, kFileEnd, "xls"},
    {"slides.ppt", DetectCompoundDocument, 129 * 512 - 1536, kFileEnd, "ppt"},
};

class RealFileTest : public testing::TestWithParam<std::uint32_t> {};

// Each file in the last sectors of the source.
TEST_P(RealFileTest, SizesMatchTheFiles) {
  const std::uint32_t sectorSize = GetParam();
  for (const RealFile& f : kRealFiles) {
    SCOPED_TRACE(f.name);
    const ByteVector bytes = Unit(f.name);
    DetectorBench bench(20 + (bytes.size() + sectorSize - 1) / sectorSize, sectorSize);
    bench.Place(20, bytes);
    ASSERT_EQ(bench.Run(f.detector, 20) != 0, f.plus != kRefused);
    if (f.plus == kRefused) continue;
    const auto size = static_cast<std::uint32_t>(static_cast<std::int64_t>(bytes.size()) + f.plus);
    const std::uint32_t skips[] = {0, size, static_cast<std::uint32_t>(bytes.size())};
    EXPECT_EQ(bench.record().detectedSize, size);
    EXPECT_EQ(bench.record().skipLength, skips[f.skip]);
    EXPECT_EQ(bench.record().skipValid, f.skip == kKept ? 0 : 1);
    EXPECT_EQ(bench.record().ext(), f.extension);
  }
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, RealFileTest, testing::Values(512u, 4096u));

// `count` frames of `length` bytes: header `h`, then zeros.
ByteVector Frames(std::uint32_t h, std::uint32_t length, int count) {
  ByteVector frame(length, 0), out;
  for (std::size_t i = 0; i < 4; ++i)
    frame[i] = static_cast<std::uint8_t>(h >> (24 - 8 * i));
  for (int i = 0; i < count; ++i)
    out.insert(out.end(), frame.begin(), frame.end());
  return out;
}

constexpr std::uint32_t kL3 = 0xFFFB9000;           // MPEG-1 Layer III 128k 44.1k: 417 bytes
constexpr std::uint32_t kSectorFrame = 0xFFF7E400;  // MPEG-2 Layer I 256k 24k: 512 bytes

// `before` frames of kL3, one of header `h` and `length` bytes, then more kL3.
ByteVector OddOneOut(int before, std::uint32_t h, std::uint32_t length) {
  return Cat({Frames(kL3, 417, before), Frames(h, length, 1), Frames(kL3, 417, 9)});
}

// Claimed frame and pack starts refuse a later hit; unclaimed, the same bytes make a stream.
TEST(MpegDetectorTest, ClaimedSectorsRefuseAHit) {
  const std::pair<Detector, ByteVector> streams[] = {
      {DetectMpegAudio, Frames(kSectorFrame, 512, 50)},
      {DetectMpegProgramStream, Unit("program-stream.mpg")}};  // three 2048-byte packs
  for (const auto& [detector, bytes] : streams) {
    DetectorBench bench, fresh;
    bench.Place(100, bytes);
    fresh.Place(100, bytes);
    ASSERT_NE(bench.Run(detector, 100), 0u);
    EXPECT_EQ(bench.Run(detector, 104), 0u);
    EXPECT_NE(fresh.Run(detector, 104), 0u);
  }
}

constexpr std::uint32_t kLong = 4, kAscii = 2;

// A little-endian TIFF with one IFD at `at`: {tag, type, count, value} entries, then `next`.
using Entries = std::vector<std::array<std::uint32_t, 4>>;
ByteVector TiffFile(const Entries& entries, std::uint32_t at = 8, std::uint32_t next = 0) {
  ByteVector b(at + 6 + 12 * entries.size(), 0);
  const auto put = [&b](std::size_t pos, std::uint32_t v, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i)
      b[pos + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  put(0, 0x2A4949, 4), put(4, at, 4), put(at, static_cast<std::uint32_t>(entries.size()), 2);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    for (std::size_t f = 0; f < 4; ++f)
      put(at + 2 + 12 * i + (f < 2 ? 2 * f : 4 * f - 4), entries[i][f], f < 2 ? 2 : 4);
  }
  put(at + 2 + 12 * entries.size(), next, 4);
  return b;
}

// A directory written after the data it describes, and an out-of-line value
// lying before another yet reaching past it.
TEST(TiffDetectorTest, TheDirectoryAndEveryOutOfLineValueCount) {
  EXPECT_EQ(Confirmed(kTiff, TiffFile({{273, kLong, 1, 8}, {279, kLong, 1, 992}}, 1000)), 1030u);
  EXPECT_EQ(Confirmed(kTiff, TiffFile({{270, kAscii, 10, 500}, {305, kAscii, 3000, 200}})), 3200u);
}

// Hostile inputs among them must end without reading out of bounds.
TEST(AudioTiffDetectorTest, EdgeCases) {
  const ByteVector wave = Unit("mp3-in-riff.wav");  // fmt, fact (54: its length), data at 62
  const ByteVector nefRenamed = With(Unit("nef-shaped.tif"), 402, {'X'});  // NIKON -> NIXON
  const ByteVector ones(4, 0xFF);
  ByteVector packs;
  for (int k = 0; k < 8192; ++k)
    packs.insert(packs.end(), {0x00, 0x00, 0x01, 0xBA});
  const struct {
    const char* what;
    Detector detector;
    ByteVector bytes;
    std::uint32_t size;  // 0: refused
  } cases[] = {
      {"MPEG-1 Layer I 288k padded", DetectMpegAudio, Frames(0xFFFF9200, 316, 40), 40 * 316},
      {"MPEG-2 Layer II 80k 22.05k", DetectMpegAudio, Frames(0xFFF59000, 522, 40), 40 * 522},
      {"39 frames are too few", DetectMpegAudio, Frames(kL3, 417, 39), 0},
      {"then another version", DetectMpegAudio, OddOneOut(39, 0xFFF39000, 261), 39 * 417 + 261},
      {"then another layer", DetectMpegAudio, OddOneOut(39, 0xFFFD9000, 522), 39 * 417 + 522},
      {"then a CRC", DetectMpegAudio, OddOneOut(39, 0xFFFA9000, 417), 40 * 417},
      {"38, then a CRC", DetectMpegAudio, OddOneOut(38, 0xFFFA9000, 417), 0},
      {"then bitrate index 15", DetectMpegAudio, OddOneOut(45, 0xFFFBF000, 417), 45 * 417},
      {"then sample-rate index 3", DetectMpegAudio, OddOneOut(45, 0xFFFB9C00, 417), 45 * 417},
      {"frames to the end of the source", DetectMpegAudio, Frames(kSectorFrame, 512, 64), 64 * 512},
      {"an odd chunk before data keeps its pad", DetectMpegAudio, With(wave, 54, {3}),
       static_cast<std::uint32_t>(wave.size() - 1)},
      {"RIFF behind a 600-byte ID3 tag", DetectMpegAudio,
       Cat({{'I', 'D', '3', 3, 0, 0, 0, 0, 4, 78}, ByteVector(590, 0), wave}),
       static_cast<std::uint32_t>(600 + wave.size() - 1)},
      {"huge ID3 size", DetectMpegAudio, {'I', 'D', '3', 3, 0, 0, 127, 127, 127, 127}, 0},
      {"RIFF chunk length near 2^32", DetectMpegAudio, With(wave, 16, ones), 0},
      {"RIFF size past 32 bits", DetectWave, With(Unit("pcm-8k.wav"), 4, ones), 0xFFFFFFFF},
      {"MIDI length past 32 bits", DetectMidi, Cat({{'M', 'T', 'h', 'd'}, ones}), 0xFFFFFFFF},
      {"end code after the last pack", DetectMpegProgramStream,
       Cat({Unit("program-stream.mpg"), {0, 0, 1, 0xB9}}), 6148},
      {"4-byte packs to the end of the source", DetectMpegProgramStream, packs, 64 * 512},
      {"NEF without its marker", kNef, nefRenamed, 0},
      {"the same as TIFF: no sub-IFDs walked", kTiff, nefRenamed, 1024 + 384},
      {"tiles", kTiff, TiffFile({{324, kLong, 1, 5000}, {325, kLong, 1, 80}}), 5080},
      {"TIFF header, then zeros", kTiff, {'I', 'I', '*', 0, 8, 0, 0, 0}, 0},
      {"an IFD that is its own next", kTiff, TiffFile({{273, kLong, 1, 1010}}, 8, 8), 1010},
      {"counts and offsets near 2^32", kTiff, TiffFile({{273, kLong, ~0u, ~0u - 15}}), ~0u},
      {"SubIFDs array past the source", kNef,
       With(TiffFile({{330, kLong, ~0u, ~0u - 15}}, 16), 8, {'N', 'I', 'K', 'O'}), ~0u},
      {"51 entries", kTiff, TiffFile(Entries(51, {273, kLong, 1, 100})), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Confirmed(c.detector, c.bytes), c.size);
  }
}

}  // namespace
}  // namespace restorix
