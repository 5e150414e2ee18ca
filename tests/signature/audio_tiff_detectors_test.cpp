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

ByteVector Unit(const std::string& name) {
  return test::ReadFile(test::SourceFixture("carving-unit/" + name));
}

ByteVector Concat(ByteVector a, const ByteVector& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::uint32_t Tiff(DetectorContext& c, std::uint64_t hit, SignatureRecord& r, TiffVariant v) {
  return DetectTiffFamily(c, hit, r, v);
}
std::uint32_t GenericTiff(DetectorContext& c, std::uint64_t hit, SignatureRecord& r) {
  return Tiff(c, hit, r, TiffVariant::Generic);
}
std::uint32_t LittleEndianTiff(DetectorContext& c, std::uint64_t hit, SignatureRecord& r) {
  return Tiff(c, hit, r, TiffVariant::LittleEndian);
}
std::uint32_t Cr2(DetectorContext& c, std::uint64_t hit, SignatureRecord& r) {
  return Tiff(c, hit, r, TiffVariant::Cr2);
}
std::uint32_t Nef(DetectorContext& c, std::uint64_t hit, SignatureRecord& r) {
  return Tiff(c, hit, r, TiffVariant::Nef);
}

// ---------------------------------------------------------------------------
// Real files made by make-audio-tiff.sh.

struct RealFile {
  const char* name;
  Detector detector;
  // How far before the end of the file the detected size stops (negative:
  // past it), and why.
  std::int64_t shortBy;
  bool setsSkip;
};

// Sizes were checked against ffprobe's packet positions (MP3), tiffdump
// (TIFF) and the chunk and pack layout of the files.
const RealFile kRealFiles[] = {
    // ID3v2 in front counts; lame's 128-byte ID3v1 'TAG' at the back is no frame.
    {"tagged-44k.mp3", DetectMpegAudio, 128, true},
    {"bare-44k.mp3", DetectMpegAudio, 0, true},
    {"mpeg2-22k.mp3", DetectMpegAudio, 0, true},  // MPEG-2 Layer III
    {"mpeg25-8k.mp3", DetectMpegAudio, 0, true},  // MPEG-2.5 Layer III
    {"crc-44k.mp3", DetectMpegAudio, 0, true},
    // The data chunk has an odd length: the RIFF pad byte after it is no frame.
    {"mp3-in-riff.wav", DetectMpegAudio, 1, true},
    {"mp3-in-riff.wav", DetectWave, 1, true},
    {"pcm-8k.wav", DetectWave, 0, false},
    // Two bytes of slack past the last chunk.
    {"two-tracks.mid", DetectMidi, -2, true},
    // ffmpeg writes no end code; mplex puts it at the end of its last pack.
    {"program-stream.mpg", DetectMpegProgramStream, 0, false},
    {"program-stream-end.mpg", DetectMpegProgramStream, 0, false},
    // ImageMagick puts the IFD last, followed by its out-of-line values.
    {"gradient-le.tif", GenericTiff, 0, true},
    {"gradient-le.tif", LittleEndianTiff, 0, true},
    {"gradient-be.tif", GenericTiff, 0, true},
    {"cr2-shaped.tif", Cr2, 0, true},
    {"nef-shaped.tif", Nef, 0, true},
};

class AudioTiffRealFileTest : public testing::TestWithParam<std::uint32_t> {};

TEST_P(AudioTiffRealFileTest, SizesMatchTheFiles) {
  const std::uint32_t sectorSize = GetParam();
  for (const RealFile& file : kRealFiles) {
    SCOPED_TRACE(file.name);
    const ByteVector bytes = Unit(file.name);
    DetectorBench bench(256, sectorSize);
    bench.Place(7, bytes);
    SignatureRecord stored;
    stored.skipLength = 12345;
    ASSERT_NE(bench.Run(file.detector, 7, stored), 0u);
    const auto expected =
        static_cast<std::uint32_t>(static_cast<std::int64_t>(bytes.size()) - file.shortBy);
    EXPECT_EQ(bench.record().detectedSize, expected);
    if (file.setsSkip) {
      EXPECT_EQ(bench.record().skipLength, expected);
      EXPECT_EQ(bench.record().skipValid, 1);
    } else {
      EXPECT_EQ(bench.record().skipLength, 12345u);
      EXPECT_EQ(bench.record().skipValid, 0);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, AudioTiffRealFileTest, testing::Values(512u, 4096u));

// ---------------------------------------------------------------------------
// MPEG audio.

// A frame of `length` bytes that starts with header `h`; the rest is zero.
ByteVector Frames(std::uint32_t h, std::uint32_t length, int count) {
  ByteVector frame(length, 0);
  for (int i = 0; i < 4; ++i)
    frame[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(h >> (24 - 8 * i));
  ByteVector out;
  for (int i = 0; i < count; ++i)
    out.insert(out.end(), frame.begin(), frame.end());
  return out;
}

struct FrameKind {
  const char* what;
  std::uint32_t header;
  std::uint32_t length;  // from the ISO/IEC 11172-3 / 13818-3 tables
};

const FrameKind kFrameKinds[] = {
    {"MPEG-1 Layer III 128k 44.1k", 0xFFFB9000, 417},
    {"MPEG-1 Layer III 128k 44.1k padded", 0xFFFB9200, 418},
    {"MPEG-1 Layer III 128k 44.1k with CRC", 0xFFFA9000, 417},
    {"MPEG-1 Layer III 32k 48k", 0xFFFB1400, 96},
    {"MPEG-1 Layer II 160k 44.1k", 0xFFFD9000, 522},
    {"MPEG-1 Layer I 288k 44.1k", 0xFFFF9000, 312},
    {"MPEG-1 Layer I 288k 44.1k padded", 0xFFFF9200, 316},
    {"MPEG-2 Layer III 80k 22.05k", 0xFFF39000, 261},
    {"MPEG-2 Layer III 80k 24k with CRC", 0xFFF29400, 240},
    {"MPEG-2 Layer II 80k 22.05k", 0xFFF59000, 522},
    {"MPEG-2 Layer I 144k 22.05k", 0xFFF79000, 312},
    {"MPEG-2.5 Layer III 80k 11.025k", 0xFFE39000, 522},
    {"MPEG-2.5 Layer III 80k 8k", 0xFFE39800, 720},
    {"MPEG-2.5 Layer III 8k 8k", 0xFFE31800, 72},
};

TEST(MpegAudioDetectorTest, FortyFramesOfEveryKindAreAStreamThirtyNineAreNot) {
  for (const FrameKind& kind : kFrameKinds) {
    SCOPED_TRACE(kind.what);
    for (const int count : {39, 40, 41}) {
      DetectorBench bench;
      bench.Place(3, Frames(kind.header, kind.length, count));
      const std::uint32_t confirmed = bench.Run(DetectMpegAudio, 3);
      if (count < 40) {
        EXPECT_EQ(confirmed, 0u) << count;
        continue;
      }
      ASSERT_NE(confirmed, 0u) << count;
      EXPECT_EQ(bench.record().detectedSize, kind.length * static_cast<std::uint32_t>(count));
      EXPECT_EQ(bench.record().skipLength, bench.record().detectedSize);
      EXPECT_EQ(bench.record().skipValid, 1);
    }
  }
}

TEST(MpegAudioDetectorTest, AFrameOfAnotherKindCountsAndEndsTheWalk) {
  const std::uint32_t base = 0xFFFB9000;  // MPEG-1 Layer III, 417 bytes
  const FrameKind others[] = {
      {"version", 0xFFF39000, 261},     // MPEG-2 Layer III
      {"layer", 0xFFFD9000, 522},       // MPEG-1 Layer II
      {"protection", 0xFFFA9000, 417},  // the same with a CRC
  };
  for (const FrameKind& other : others) {
    SCOPED_TRACE(other.what);
    // 39 + the odd one out make 40; the frames after it are not walked.
    DetectorBench bench;
    bench.Place(3, Concat(Concat(Frames(base, 417, 39), Frames(other.header, other.length, 1)),
                          Frames(base, 417, 20)));
    ASSERT_NE(bench.Run(DetectMpegAudio, 3), 0u);
    EXPECT_EQ(bench.record().detectedSize, 39 * 417 + other.length);

    // 38 + the odd one out are too few, whatever follows.
    DetectorBench shorter;
    shorter.Place(3, Concat(Concat(Frames(base, 417, 38), Frames(other.header, other.length, 1)),
                            Frames(base, 417, 20)));
    EXPECT_EQ(shorter.Run(DetectMpegAudio, 3), 0u);
  }
}

TEST(MpegAudioDetectorTest, HeadersWithoutALengthEndTheWalk) {
  const struct {
    const char* what;
    std::uint32_t header;
  } enders[] = {
      {"free format (bitrate index 0)", 0xFFFB0000},
      {"bitrate index 15", 0xFFFBF000},
      {"sample-rate index 3", 0xFFFB9C00},
      {"reserved version", 0xFFEB9000},
      {"reserved layer", 0xFFF99000},
      {"ten sync bits only", 0xFFDB9000},
  };
  for (const auto& ender : enders) {
    SCOPED_TRACE(ender.what);
    DetectorBench bench;
    bench.Place(3, Concat(Frames(0xFFFB9000, 417, 45), Frames(ender.header, 417, 10)));
    ASSERT_NE(bench.Run(DetectMpegAudio, 3), 0u);
    EXPECT_EQ(bench.record().detectedSize, 45u * 417);

    DetectorBench first;
    first.Place(3, Concat(Frames(ender.header, 417, 1), Frames(0xFFFB9000, 417, 45)));
    EXPECT_EQ(first.Run(DetectMpegAudio, 3), 0u);
  }
}

// MPEG-2 Layer I at 256 kbit/s and 24 kHz has 512-byte frames: every frame
// starts a sector.
constexpr std::uint32_t kSectorFrame = 0xFFF7E400;

TEST(MpegAudioDetectorTest, FrameStartsAtSectorsAreClaimedAndRefusedLater) {
  DetectorBench bench;
  bench.Place(100, Frames(kSectorFrame, 512, 50));
  ASSERT_NE(bench.Run(DetectMpegAudio, 100), 0u);
  EXPECT_EQ(bench.record().detectedSize, 50u * 512);
  for (std::uint64_t s = 100; s < 150; ++s)
    EXPECT_TRUE(bench.claims.audio.contains(s)) << s;
  EXPECT_EQ(bench.claims.audio.size(), 50u);

  // The same stream seen from its sixth frame: 45 frames would do, but the
  // sector is claimed.
  EXPECT_EQ(bench.Run(DetectMpegAudio, 105), 0u);
  DetectorBench fresh;
  fresh.Place(100, Frames(kSectorFrame, 512, 50));
  ASSERT_NE(fresh.Run(DetectMpegAudio, 105), 0u);
  EXPECT_EQ(fresh.record().detectedSize, 45u * 512);
}

TEST(MpegAudioDetectorTest, OnlyFramesStartingAtASectorClaimIt) {
  DetectorBench bench;
  bench.Place(3, Unit("bare-44k.mp3"));
  ASSERT_NE(bench.Run(DetectMpegAudio, 3), 0u);
  ASSERT_FALSE(bench.claims.audio.empty());
  EXPECT_TRUE(bench.claims.audio.contains(3));
  const ByteVector file = Unit("bare-44k.mp3");
  for (const std::uint64_t sector : bench.claims.audio) {
    const std::size_t at = (sector - 3) * 512;
    ASSERT_LT(at + 1, file.size());
    EXPECT_EQ(file[at], 0xFF);
    EXPECT_EQ(file[at + 1] & 0xE0, 0xE0);
  }
}

// An ID3v2 header whose tag (header included) is `total` bytes long.
ByteVector Id3(std::uint32_t total) {
  const std::uint32_t size = total - 10;
  ByteVector tag(total, 0);
  const char head[] = "ID3\x03\x00\x00";
  std::copy(head, head + 6, tag.begin());
  for (int i = 0; i < 4; ++i)
    tag[static_cast<std::size_t>(6 + i)] = (size >> (21 - 7 * i)) & 0x7F;
  return tag;
}

TEST(MpegAudioDetectorTest, Id3TagsAreSkippedAndCounted) {
  const ByteVector bare = Unit("bare-44k.mp3");
  // A tag that ends inside a sector and one that fills whole sectors.
  for (const std::uint32_t tagBytes : {10u, 777u, 1024u, 70000u}) {
    SCOPED_TRACE(tagBytes);
    DetectorBench bench;
    bench.Place(3, Concat(Id3(tagBytes), bare));
    ASSERT_NE(bench.Run(DetectMpegAudio, 3), 0u);
    EXPECT_EQ(bench.record().detectedSize, tagBytes + bare.size());
  }

  const struct {
    const char* what;
    std::size_t at;
    std::uint8_t value;
  } broken[] = {
      {"not ID3", 2, '2'},
      {"size byte with its top bit set", 8, 0x80},
      {"last size byte with its top bit set", 9, 0x81},
  };
  for (const auto& b : broken) {
    SCOPED_TRACE(b.what);
    ByteVector file = Unit("tagged-44k.mp3");
    file[b.at] = b.value;
    DetectorBench bench;
    bench.Place(3, file);
    EXPECT_EQ(bench.Run(DetectMpegAudio, 3), 0u);
  }
}

TEST(MpegAudioDetectorTest, RiffWrappedLayerThree) {
  const ByteVector wave = Unit("mp3-in-riff.wav");
  const std::uint32_t frameBytes = static_cast<std::uint32_t>(wave.size()) - 1;  // less the pad

  // A WAVE at the hit claims the hit sector.
  {
    DetectorBench bench;
    bench.Place(9, wave);
    ASSERT_NE(bench.Run(DetectMpegAudio, 9), 0u);
    EXPECT_TRUE(bench.claims.audio.contains(9));
  }
  // A WAVE behind an ID3 tag: one that starts a sector claims that sector.
  for (const std::uint32_t tagBytes : {512u, 600u}) {
    SCOPED_TRACE(tagBytes);
    DetectorBench bench;
    bench.Place(9, Concat(Id3(tagBytes), wave));
    ASSERT_NE(bench.Run(DetectMpegAudio, 9), 0u);
    EXPECT_EQ(bench.record().detectedSize, tagBytes + frameBytes);
    EXPECT_EQ(bench.claims.audio.contains(10), tagBytes == 512);
  }

  const struct {
    const char* what;
    std::size_t at;
    std::string bytes;
  } refused[] = {
      {"PCM format tag", 20, std::string("\x01\x00", 2)},
      {"no data chunk", 62, "dat4"},
      {"a chunk length that jumps past the sector", 16, std::string("\x00\x10\x00\x00", 4)},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.what);
    for (const std::uint32_t tagBytes : {0u, 512u, 600u}) {
      ByteVector file = wave;
      std::copy(r.bytes.begin(), r.bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(r.at));
      if (tagBytes != 0) file = Concat(Id3(tagBytes), file);
      DetectorBench bench;
      bench.Place(9, file);
      EXPECT_EQ(bench.Run(DetectMpegAudio, 9), 0u) << tagBytes;
    }
  }
}

TEST(MpegAudioDetectorTest, HostileStreamsEnd) {
  // Frames right up to the end of the source: the walk stops there.
  DetectorBench bench(64);
  bench.Place(0, Frames(kSectorFrame, 512, 64));
  ASSERT_NE(bench.Run(DetectMpegAudio, 0), 0u);
  EXPECT_EQ(bench.record().detectedSize, 64u * 512);

  // An ID3 size pointing far past the end of the source.
  DetectorBench far(64);
  ByteVector tag = Id3(10);
  std::fill(tag.begin() + 6, tag.begin() + 10, 0x7F);
  far.Place(0, tag);
  EXPECT_EQ(far.Run(DetectMpegAudio, 0), 0u);

  // A RIFF chunk length near 2^32.
  DetectorBench riff(64);
  ByteVector wave = Unit("mp3-in-riff.wav");
  std::fill(wave.begin() + 16, wave.begin() + 20, 0xFF);
  riff.Place(0, wave);
  EXPECT_EQ(riff.Run(DetectMpegAudio, 0), 0u);
}

// ---------------------------------------------------------------------------
// WAVE.

TEST(WaveDetectorTest, LayerThreeInsideIsMeasuredByItsFrames) {
  const ByteVector wave = Unit("mp3-in-riff.wav");
  DetectorBench viaWave;
  viaWave.Place(5, wave);
  DetectorBench viaMpeg;
  viaMpeg.Place(5, wave);
  ASSERT_NE(viaWave.Run(DetectWave, 5), 0u);
  ASSERT_NE(viaMpeg.Run(DetectMpegAudio, 5), 0u);
  EXPECT_EQ(viaWave.record(), viaMpeg.record());
  EXPECT_EQ(viaWave.claims.audio, viaMpeg.claims.audio);

  // And it shares the refusals: a sector the audio walk claimed.
  EXPECT_EQ(viaWave.Run(DetectWave, 5), 0u);
}

TEST(WaveDetectorTest, OnlyWaveFormsAreConfirmed) {
  ByteVector avi = Unit("pcm-8k.wav");
  std::copy_n("AVI ", 4, avi.begin() + 8);
  DetectorBench bench;
  bench.Place(5, avi);
  EXPECT_EQ(bench.Run(DetectWave, 5), 0u);

  // The RIFF size is taken as it stands, even when it runs past everything.
  ByteVector huge = Unit("pcm-8k.wav");
  std::fill(huge.begin() + 4, huge.begin() + 8, 0xFF);
  DetectorBench big;
  big.Place(5, huge);
  ASSERT_NE(big.Run(DetectWave, 5), 0u);
  EXPECT_EQ(big.record().detectedSize, 0xFFFFFFFFu);
}

// ---------------------------------------------------------------------------
// MIDI.

ByteVector Chunk(const char* tag, std::uint32_t length, std::size_t payload = 0) {
  ByteVector out(tag, tag + 4);
  for (int i = 0; i < 4; ++i)
    out.push_back(static_cast<std::uint8_t>(length >> (24 - 8 * i)));
  out.resize(out.size() + payload, 0);
  return out;
}

TEST(MidiDetectorTest, ChunkChains) {
  const ByteVector header = Chunk("MThd", 6, 6);
  const struct {
    const char* what;
    ByteVector bytes;
    std::uint32_t size;
  } cases[] = {
      {"header only", header, 14 + 2},
      {"empty tracks", Concat(Concat(header, Chunk("MTrk", 0)), Chunk("MTrk", 0)), 30 + 2},
      {"ends at another tag", Concat(Concat(header, Chunk("MTrk", 4, 4)), Chunk("RIFF", 4, 4)),
       26 + 2},
      {"no MIDI at all", Chunk("RIFF", 4, 4), 2},
      {"a length past the source", Concat(header, Chunk("MTrk", 0x7FFFFFF0)),
       0x7FFFFFF0u + 14 + 8 + 2},
      {"a length past 32 bits", Concat(header, Chunk("MTrk", 0xFFFFFFF0)), 0xFFFFFFFF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DetectorBench bench;
    bench.Place(20, c.bytes);
    ASSERT_NE(bench.Run(DetectMidi, 20), 0u);
    EXPECT_EQ(bench.record().detectedSize, c.size);
    EXPECT_EQ(bench.record().skipLength, c.size);
    EXPECT_EQ(bench.record().skipValid, 1);
  }
}

// ---------------------------------------------------------------------------
// MPEG program stream.

const ByteVector kEndCode{0x00, 0x00, 0x01, 0xB9};

TEST(ProgramStreamDetectorTest, PacksAndTheEndCode) {
  const ByteVector ffmpeg = Unit("program-stream.mpg");  // three 2048-byte packs
  const ByteVector mplex = Unit("program-stream-end.mpg");
  const struct {
    const char* what;
    ByteVector bytes;
    std::uint32_t size;
  } cases[] = {
      {"end code after the last pack", Concat(ffmpeg, kEndCode), 6148},
      {"end code ending the last pack, then more packs", Concat(mplex, ffmpeg), 8192},
      {"packs, then something else", Concat(ffmpeg, ByteVector(600, 0xAB)), 6144},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DetectorBench bench;
    bench.Place(40, c.bytes);
    ASSERT_NE(bench.Run(DetectMpegProgramStream, 40), 0u);
    EXPECT_EQ(bench.record().detectedSize, c.size);
  }
}

TEST(ProgramStreamDetectorTest, PackStartsAtSectorsAreClaimed) {
  DetectorBench bench;
  bench.Place(40, Unit("program-stream.mpg"));
  ASSERT_NE(bench.Run(DetectMpegProgramStream, 40), 0u);
  // Packs 2 and 3 start at sectors 4 and 8 of the file; the first is not
  // walked, so its sector stays free.
  EXPECT_EQ(bench.claims.programStream, (std::unordered_set<std::uint64_t>{44, 48}));
  EXPECT_TRUE(bench.claims.audio.empty());
  EXPECT_EQ(bench.Run(DetectMpegProgramStream, 44), 0u);
  EXPECT_NE(bench.Run(DetectMpegProgramStream, 40), 0u);
}

TEST(ProgramStreamDetectorTest, Refusals) {
  const ByteVector ffmpeg = Unit("program-stream.mpg");
  // The second pack start must lie in the first 63 sectors.
  ByteVector lonely(ffmpeg.begin(), ffmpeg.begin() + 2048);
  ByteVector far = Concat(lonely, ByteVector(63 * 512 - 2048 - 3, 0));
  far = Concat(far, ByteVector{0x00, 0x00, 0x01, 0xBA});
  ByteVector notAPack = ffmpeg;
  notAPack[3] = 0xBB;
  for (const ByteVector* bytes : {&lonely, &far, &notAPack}) {
    DetectorBench bench;
    bench.Place(40, *bytes);
    EXPECT_EQ(bench.Run(DetectMpegProgramStream, 40), 0u);
  }
  // The last place a whole pack start fits in the 63 sectors: that one
  // pack of this length follows.
  ByteVector nearest = Concat(Concat(lonely, ByteVector(63 * 512 - 2048 - 4, 0)),
                              ByteVector{0x00, 0x00, 0x01, 0xBA});
  DetectorBench bench;
  bench.Place(40, nearest);
  ASSERT_NE(bench.Run(DetectMpegProgramStream, 40), 0u);
  EXPECT_EQ(bench.record().detectedSize, 2u * (63 * 512 - 4));
}

TEST(ProgramStreamDetectorTest, TinyPacksToTheEndOfTheSource) {
  // Four-byte "packs" all the way: the walk ends with the source.
  ByteVector starts;
  for (int i = 0; i < 16 * 512 / 4; ++i)
    starts.insert(starts.end(), {0x00, 0x00, 0x01, 0xBA});
  DetectorBench bench(16);
  bench.Place(0, starts);
  ASSERT_NE(bench.Run(DetectMpegProgramStream, 0), 0u);
  EXPECT_EQ(bench.record().detectedSize, 16u * 512);
  EXPECT_EQ(bench.claims.programStream.size(), 15u);
}

// ---------------------------------------------------------------------------
// TIFF family, on files laid out here.

struct TiffEntry {
  std::uint16_t tag;
  std::uint16_t type;
  std::uint32_t count;
  std::uint32_t value;  // as a number in the file's byte order
};

class TiffBuilder {
 public:
  explicit TiffBuilder(bool bigEndian, std::uint32_t firstIfd = 8) : big_(bigEndian) {
    const char* magic = big_ ? "MM\0*" : "II*\0";
    std::copy_n(magic, 4, bytes_.begin());
    U32(4, firstIfd);
  }
  void U16(std::size_t at, std::uint16_t v) {
    Grow(at + 2);
    for (int i = 0; i < 2; ++i)
      bytes_[at + static_cast<std::size_t>(i)] = Byte(v, 2, i);
  }
  void U32(std::size_t at, std::uint32_t v) {
    Grow(at + 4);
    for (int i = 0; i < 4; ++i)
      bytes_[at + static_cast<std::size_t>(i)] = Byte(v, 4, i);
  }
  void Text(std::size_t at, const std::string& text) {
    Grow(at + text.size());
    std::copy(text.begin(), text.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(at));
  }
  void Ifd(std::size_t at, const std::vector<TiffEntry>& entries, std::uint32_t next) {
    U16(at, static_cast<std::uint16_t>(entries.size()));
    std::size_t pos = at + 2;
    for (const TiffEntry& e : entries) {
      U16(pos, e.tag);
      U16(pos + 2, e.type);
      U32(pos + 4, e.count);
      U32(pos + 8, e.value);
      pos += 12;
    }
    U32(pos, next);
  }
  // The value field holding two SHORTs, a first.
  std::uint32_t Shorts(std::uint16_t a, std::uint16_t b) const {
    return big_ ? (std::uint32_t{a} << 16) | b : (std::uint32_t{b} << 16) | a;
  }
  const ByteVector& bytes() const { return bytes_; }

 private:
  std::uint8_t Byte(std::uint32_t v, int width, int i) const {
    const int shift = big_ ? 8 * (width - 1 - i) : 8 * i;
    return static_cast<std::uint8_t>(v >> shift);
  }
  void Grow(std::size_t size) {
    if (bytes_.size() < size) bytes_.resize(size, 0);
  }
  bool big_;
  ByteVector bytes_ = ByteVector(8, 0);
};

constexpr std::uint16_t kShort = 3, kLong = 4, kAscii = 2, kRational = 5;

Detector TiffDetector(TiffVariant variant) {
  switch (variant) {
    case TiffVariant::LittleEndian:
      return LittleEndianTiff;
    case TiffVariant::Cr2:
      return Cr2;
    case TiffVariant::Nef:
      return Nef;
    case TiffVariant::Generic:
      break;
  }
  return GenericTiff;
}

std::uint32_t RunTiff(const ByteVector& bytes, TiffVariant variant, std::uint32_t* size = nullptr) {
  DetectorBench bench;
  bench.Place(11, bytes);
  const std::uint32_t result = bench.Run(TiffDetector(variant), 11);
  if (size) *size = bench.record().detectedSize;
  if (result) {
    EXPECT_EQ(bench.record().skipLength, bench.record().detectedSize);
    EXPECT_EQ(bench.record().skipValid, 1);
  }
  return result;
}

std::uint32_t TiffSize(const ByteVector& bytes, TiffVariant variant) {
  std::uint32_t size = 0;
  return RunTiff(bytes, variant, &size) ? size : 0;
}

TEST(TiffDetectorTest, VariantsKeepToTheirOwnFiles) {
  const ByteVector cr2 = Unit("cr2-shaped.tif");
  const ByteVector nef = Unit("nef-shaped.tif");
  const ByteVector plainLe = Unit("gradient-le.tif");
  const ByteVector plainBe = Unit("gradient-be.tif");
  ByteVector nefRenamed = nef;  // "NIKON" becomes "NIXON": no marker left
  nefRenamed[402] = 'X';

  EXPECT_EQ(RunTiff(cr2, TiffVariant::Generic), 0u);
  EXPECT_EQ(RunTiff(nef, TiffVariant::Generic), 0u);
  EXPECT_EQ(RunTiff(plainLe, TiffVariant::Cr2), 0u);
  EXPECT_EQ(RunTiff(plainBe, TiffVariant::Nef), 0u);
  EXPECT_EQ(RunTiff(nefRenamed, TiffVariant::Nef), 0u);
  // The little-endian type reads a big-endian file as little-endian and
  // finds no IFD at the offset that gives.
  EXPECT_EQ(RunTiff(plainBe, TiffVariant::LittleEndian), 0u);

  // Without its marker the NEF is an ordinary TIFF, whose walk does not go
  // into sub-IFDs: it ends with IFD 0's thumbnail strip.
  EXPECT_EQ(TiffSize(nefRenamed, TiffVariant::Generic), 1024u + 384);
  EXPECT_EQ(TiffSize(nef, TiffVariant::Nef), nef.size());
}

TEST(TiffDetectorTest, NikonMarkerIsLookedForInTheFirstBytesOnly) {
  for (const std::size_t at : {8ul, 600ul, 1011ul, 1012ul, 1500ul}) {
    SCOPED_TRACE(at);
    TiffBuilder t(false, 2048);
    t.Ifd(2048, {{273, kLong, 1, 4096}, {279, kLong, 1, 100}}, 0);
    t.Text(at, "NIKO");
    const bool marked = at < 1012;
    EXPECT_EQ(RunTiff(t.bytes(), TiffVariant::Nef) != 0, marked);
    EXPECT_EQ(RunTiff(t.bytes(), TiffVariant::Generic) != 0, !marked);
  }
}

TEST(TiffDetectorTest, SizeIsTheFurthestEndOfAnyIfd) {
  TiffBuilder t(false);
  t.Ifd(8, {{256, kLong, 1, 16}, {273, kLong, 1, 200}, {279, kLong, 1, 800}}, 60);
  t.Ifd(60, {{271, kAscii, 300, 1500}, {273, kLong, 1, 1000}, {279, kLong, 1, 100}}, 110);
  t.Ifd(110, {{282, kRational, 1, 1200}, {273, kLong, 1, 1100}, {279, kLong, 1, 50}}, 0);
  EXPECT_EQ(TiffSize(t.bytes(), TiffVariant::Generic), 1800u);
  EXPECT_EQ(TiffSize(t.bytes(), TiffVariant::LittleEndian), 1800u);
}

TEST(TiffDetectorTest, LastStripOrTileValues) {
  for (const bool big : {false, true}) {
    SCOPED_TRACE(big ? "big-endian" : "little-endian");
    const struct {
      const char* what;
      std::vector<TiffEntry> entries;
      std::uint32_t generic;
      std::uint32_t littleEndianType;  // strips only
    } cases[] = {
        {"SHORT pair in the value field",
         {{273, kShort, 2, 0}, {279, kShort, 2, 0}},
         300 + 60,
         300 + 60},
        {"SHORT array", {{273, kShort, 3, 600}, {279, kShort, 3, 620}}, 5000 + 70, 5000 + 70},
        {"LONG array", {{273, kLong, 3, 640}, {279, kLong, 3, 660}}, 7000 + 80, 7000 + 80},
        {"tiles", {{324, kLong, 3, 640}, {325, kLong, 3, 660}}, 7000 + 80, 0},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(c.what);
      TiffBuilder t(big);
      std::vector<TiffEntry> entries = c.entries;
      if (entries[0].type == kShort && entries[0].count == 2) {
        entries[0].value = t.Shorts(100, 300);
        entries[1].value = t.Shorts(50, 60);
      }
      t.Ifd(8, entries, 0);
      for (int i = 0; i < 3; ++i) {
        t.U16(600 + 2 * static_cast<std::size_t>(i), static_cast<std::uint16_t>(3000 + 1000 * i));
        t.U16(620 + 2 * static_cast<std::size_t>(i), static_cast<std::uint16_t>(50 + 10 * i));
        t.U32(640 + 4 * static_cast<std::size_t>(i), 5000 + 1000 * static_cast<std::uint32_t>(i));
        t.U32(660 + 4 * static_cast<std::size_t>(i), 60 + 10 * static_cast<std::uint32_t>(i));
      }
      // Out-of-line arrays end at 672 at most: the image data is what counts.
      EXPECT_EQ(TiffSize(t.bytes(), TiffVariant::Generic), c.generic);
      if (!big) {
        EXPECT_EQ(TiffSize(t.bytes(), TiffVariant::LittleEndian),
                  c.littleEndianType ? c.littleEndianType : 672u);
      }
    }
  }
}

TEST(TiffDetectorTest, BadIfdsEndTheWalkAndDoNotCount) {
  const std::vector<TiffEntry> good = {{273, kLong, 1, 1000}, {279, kLong, 1, 24}};
  const struct {
    const char* what;
    std::vector<TiffEntry> second;
    std::uint32_t next;
    bool cr2Counts;  // CR2 checks only counts and types
  } cases[] = {
      {"type 0", {{273, kLong, 1, 5000}, {279, 0, 1, 8}}, 0, false},
      {"type 13", {{273, kLong, 1, 5000}, {279, 13, 1, 8}}, 0, false},
      {"count 0", {{273, kLong, 1, 5000}, {279, kLong, 0, 8}}, 0, false},
      {"odd SHORT array offset",
       {{273, kLong, 1, 5000}, {279, kLong, 1, 8}, {258, kShort, 3, 301}},
       0,
       true},
      {"odd LONG array offset",
       {{273, kLong, 1, 5000}, {279, kLong, 1, 8}, {513, kLong, 2, 301}},
       0,
       true},
      {"odd next IFD offset", {{273, kLong, 1, 5000}, {279, kLong, 1, 8}}, 301, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TiffBuilder t(false);
    t.Text(8, std::string("CR\x02\x00", 4));
    t.U32(4, 16);
    t.Ifd(16, good, 100);
    t.Ifd(100, c.second, c.next);
    EXPECT_EQ(TiffSize(t.bytes(), TiffVariant::LittleEndian), 0u + 1024);
    const std::uint32_t cr2 = TiffSize(t.bytes(), TiffVariant::Cr2);
    EXPECT_EQ(cr2, c.cr2Counts ? 5008u : 1024u);
  }

  // An odd first IFD offset is no TIFF at all.
  TiffBuilder odd(false, 9);
  odd.Ifd(9, good, 0);
  EXPECT_EQ(RunTiff(odd.bytes(), TiffVariant::Generic), 0u);
  // Neither is one whose data ends nowhere.
  TiffBuilder empty(false);
  empty.Ifd(8, {{256, kShort, 1, 16}}, 0);
  EXPECT_EQ(RunTiff(empty.bytes(), TiffVariant::Generic), 0u);
}

TEST(TiffDetectorTest, EntryLimits) {
  const struct {
    TiffVariant variant;
    std::size_t limit;
  } limits[] = {{TiffVariant::Generic, 50}, {TiffVariant::LittleEndian, 30}};
  for (const auto& l : limits) {
    for (const std::size_t n : {l.limit, l.limit + 1}) {
      SCOPED_TRACE(n);
      std::vector<TiffEntry> entries(n, TiffEntry{305, kShort, 1, 0});
      entries[0] = {273, kLong, 1, 2000};
      entries[1] = {279, kLong, 1, 48};
      TiffBuilder t(false);
      t.Ifd(8, entries, 0);
      EXPECT_EQ(TiffSize(t.bytes(), l.variant), n <= l.limit ? 2048u : 0u);
    }
  }
}

TEST(TiffDetectorTest, SubIfdQueue) {
  // IFD 0 names sub-IFD offsets; sub-IFD k holds a strip ending at 10000 + k.
  for (const std::uint32_t count : {1u, 2u, 32u, 40u}) {
    SCOPED_TRACE(count);
    TiffBuilder t(true);
    t.Text(200, "NIKON CORPORATION");
    const std::uint32_t array = 400;
    const std::uint32_t subIfdValue = count == 1 ? 600 : array;
    t.Ifd(8,
          {{271, kAscii, 18, 200},
           {273, kLong, 1, 5000},
           {279, kLong, 1, 10},
           {330, kLong, count, subIfdValue}},
          0);
    for (std::uint32_t k = 0; k < count; ++k) {
      const std::uint32_t at = 600 + 40 * k;
      if (count > 1) t.U32(array + 4 * k, at);
      t.Ifd(at, {{273, kLong, 1, 10000}, {279, kLong, 1, k}}, 0);
    }
    const std::uint32_t walked = std::min(count, 32u);
    EXPECT_EQ(TiffSize(t.bytes(), TiffVariant::Nef), 10000 + walked - 1);
  }
}

TEST(TiffDetectorTest, LoopsAndLongChainsEnd) {
  // IFD 1 points back at IFD 0.
  TiffBuilder loop(false);
  loop.Ifd(8, {{273, kLong, 1, 1000}, {279, kLong, 1, 10}}, 40);
  loop.Ifd(40, {{273, kLong, 1, 2000}, {279, kLong, 1, 10}}, 8);
  EXPECT_EQ(TiffSize(loop.bytes(), TiffVariant::Generic), 2010u);

  // An IFD that is its own successor.
  TiffBuilder self(false);
  self.Ifd(8, {{273, kLong, 1, 1000}, {279, kLong, 1, 10}}, 8);
  EXPECT_EQ(TiffSize(self.bytes(), TiffVariant::Generic), 1010u);

  // 2000 IFDs in a row: the walk stops after the 1024th.
  TiffBuilder chain(false);
  for (std::uint32_t k = 0; k < 2000; ++k) {
    const std::uint32_t at = 8 + 20 * k;
    chain.Ifd(at, {{273, kLong, 1, 100000 + k}}, k + 1 < 2000 ? at + 20 : 0);
  }
  EXPECT_EQ(TiffSize(chain.bytes(), TiffVariant::Generic), 100000u + 1023);
}

TEST(TiffDetectorTest, HostileCountsAndOffsets) {
  // Counts and offsets near 2^32 do not wrap, and reads past the source
  // give zeros; sizes past 32 bits are held at the largest.
  TiffBuilder big(false);
  big.Ifd(
      8,
      {{273, kLong, 0xFFFFFFFF, 0xFFFFFFF0}, {279, kLong, 1, 10}, {270, kAscii, 0xFFFFFFFF, 2000}},
      0);
  EXPECT_EQ(TiffSize(big.bytes(), TiffVariant::Generic), 0xFFFFFFFFu);

  // A SubIFDs array past the end of the source: its slots read as zeros.
  TiffBuilder sub(false);
  sub.Text(300, "NIKO");
  sub.Ifd(8, {{273, kLong, 1, 1000}, {279, kLong, 1, 10}, {330, kLong, 0xFFFFFFFF, 0xFFFFFFF0}}, 0);
  EXPECT_EQ(TiffSize(sub.bytes(), TiffVariant::Nef), 0xFFFFFFFFu);

  TiffBuilder farIfd(false, 0xFFFFFFF0);
  EXPECT_EQ(RunTiff(farIfd.bytes(), TiffVariant::Generic), 0u);

  TiffBuilder manyEntries(false);
  manyEntries.U16(8, 0xFFFF);
  EXPECT_EQ(RunTiff(manyEntries.bytes(), TiffVariant::Generic), 0u);
}

// ---------------------------------------------------------------------------

TEST(AudioTiffCancelTest, StoppedWalksDoNotConfirm) {
  const struct {
    const char* name;
    Detector detector;
    bool confirmed;
  } cases[] = {
      {"bare-44k.mp3", DetectMpegAudio, false},
      {"program-stream.mpg", DetectMpegProgramStream, false},
      {"gradient-le.tif", GenericTiff, false},
      {"two-tracks.mid", DetectMidi, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DetectorBench bench;
    bench.Place(2, Unit(c.name));
    bench.Open();
    bench.engine.keepRunning = 0;
    EXPECT_EQ(bench.Run(c.detector, 2) != 0, c.confirmed);
    EXPECT_TRUE(bench.claims.audio.empty());
    EXPECT_TRUE(bench.claims.programStream.empty());
  }
}

}  // namespace
}  // namespace restorix

namespace restorix {
namespace {

// Two ends the size must not miss: a directory written after the data it
// describes, and an out-of-line value lying before another yet reaching past
// it.
TEST(TiffDetectorTest, TheDirectoryAndEveryOutOfLineValueCount) {
  TiffBuilder last(false, 1000);
  last.Ifd(1000, {{273, kLong, 1, 8}, {279, kLong, 1, 992}}, 0);
  EXPECT_EQ(TiffSize(last.bytes(), TiffVariant::Generic), 1000u + 2 + 2 * 12 + 4);

  TiffBuilder lower(false);
  lower.Ifd(8, {{270, kAscii, 10, 500}, {273, kLong, 1, 100}, {279, kLong, 1, 10}, {305, kAscii, 3000, 200}}, 0);
  EXPECT_EQ(TiffSize(lower.bytes(), TiffVariant::Generic), 3200u);
}

}  // namespace
}  // namespace restorix
