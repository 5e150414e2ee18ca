// Ogg, FLAC, Matroska, ISO base media, ASF and RIFF files laid out here:
// whole, cut short, damaged, followed right away by another file, and past
// 4 GiB; then what the search makes of a family of types and of a length
// past 4 GiB.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "signature/carving_corpus.h"
#include "signature/file_builder.h"
#include "signature/search.h"
#include "support/detector_bench.h"
#include "support/fake_source.h"
#include "support/test_support.h"

namespace restorix {
namespace {

using test::ByteVector;
using test::Cat;
using test::Cut;
using test::Detect;
using test::DetectAtEnd;
using test::FileBuilder;
using test::kWhole;
using test::SparseSource;

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

ByteVector Noise(std::size_t n, unsigned seed) {
  std::mt19937 random(seed);
  ByteVector out(n);
  for (auto& b : out)
    b = static_cast<std::uint8_t>(random());
  return out;
}

// ---------------------------------------------------------------- Ogg ---

std::uint32_t OggCrc(const ByteVector& page) {
  std::uint32_t crc = 0;
  for (const std::uint8_t b : page) {
    crc ^= std::uint32_t{b} << 24;
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x80000000u) != 0 ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return crc;
}

// A page of `payload` (under 255 bytes a segment, 255 segments at most).
ByteVector OggPage(std::uint8_t flags, std::uint32_t serial, const ByteVector& payload) {
  FileBuilder p;
  p.text("OggS").le(0, 1).le(flags, 1).le(0, 8).le(serial, 4).le(0, 4).le(0, 4);
  ByteVector lacing;
  std::size_t left = payload.size();
  do {
    lacing.push_back(static_cast<std::uint8_t>(std::min<std::size_t>(left, 255)));
    left -= std::min<std::size_t>(left, 255);
  } while (left > 0 || lacing.back() == 255);
  ByteVector page = p.le(lacing.size(), 1).raw(lacing).raw(payload);
  const std::uint32_t crc = OggCrc(page);
  return FileBuilder().raw(page).patchLe(22, crc, 4);
}

ByteVector OggStream(std::string_view codec, std::uint32_t serial = 1, int pages = 4) {
  ByteVector s = OggPage(2, serial, Cat({ByteVector(codec.begin(), codec.end()), Noise(20, 1)}));
  for (int i = 1; i < pages; ++i)
    s = Cat({s, OggPage(i + 1 == pages ? 4 : 0, serial, Noise(600, static_cast<unsigned>(i)))});
  return s;
}

TEST(OggDetectorTest, PagesToTheEndOfEveryStream) {
  const ByteVector vorbis = OggStream("\x01vorbis"), opus = OggStream("OpusHead");
  // Two streams: both begin first, the second ends last.
  const ByteVector muxed =
      Cat({OggPage(2, 1, Noise(30, 2)), OggPage(2, 2, Noise(30, 3)), OggPage(0, 1, Noise(99, 4)),
           OggPage(4, 1, Noise(99, 5)), OggPage(0, 2, Noise(99, 6)), OggPage(4, 2, Noise(9, 7))});
  const ByteVector noEnd = Cut(vorbis, vorbis.size() - 1);  // its last page cut short
  ByteVector badCrc = vorbis;
  badCrc[30] ^= 1;
  test::CheckCases({
      {"Vorbis", DetectOgg, vorbis, kWhole, "ogg"},
      {"Opus", DetectOgg, opus, kWhole, "opus"},
      {"FLAC", DetectOgg, OggStream(std::string("\x7F") + "FLAC"), kWhole, "oga"},
      {"Theora", DetectOgg, OggStream("\x80theora"), kWhole, "ogv"},
      {"two streams", DetectOgg, muxed},
      {"then another stream right after", DetectOgg, Cat({vorbis, opus}), vorbis.size()},
      {"cut short, then another stream", DetectOgg, Cat({Cut(vorbis, 1300), opus}),
       OggStream("\x01vorbis", 1, 2).size(), "ogg"},
      {"no end page", DetectOgg, noEnd, OggStream("\x01vorbis", 1, 3).size()},
      {"first page CRC", DetectOgg, badCrc, 0},
  });
  EXPECT_EQ(Detect(DetectOgg, OggStream("\x80theora")).category, "Video");
}

// --------------------------------------------------------------- FLAC ---

template <int Bits, std::uint32_t Poly>
std::uint32_t Crc(const ByteVector& bytes) {
  std::uint32_t crc = 0;
  for (const std::uint8_t b : bytes) {
    crc ^= std::uint32_t{b} << (Bits - 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & (1u << (Bits - 1))) != 0 ? (crc << 1) ^ Poly : crc << 1;
    crc &= (1u << Bits) - 1;
  }
  return crc;
}

// A FLAC stream of 4096-sample stereo 16-bit frames at 44.1 kHz; the last
// frame holds `lastSamples` (an explicit 16-bit block size). STREAMINFO
// gives the sample count (or 0, unknown) and, unless `bounds` is false, the
// shortest and longest frame.
ByteVector Flac(int frames, std::uint32_t lastSamples, bool counted = true, bool bounds = true) {
  std::vector<ByteVector> out;
  std::uint64_t samples = 0;
  std::size_t shortest = ~std::size_t{0}, longest = 0;
  for (int n = 0; n < frames; ++n) {
    const bool last = n + 1 == frames;
    FileBuilder h;
    h.be(0xFFF8, 2).le(last ? 0x79 : 0xC9, 1).le(0x18, 1).le(static_cast<std::uint64_t>(n), 1);
    if (last) h.be(lastSamples - 1, 2);
    h.le(Crc<8, 0x07>(h), 1);
    ByteVector frame = Cat(
        {h, Noise(last ? 300 : 900 + 37 * static_cast<std::size_t>(n), static_cast<unsigned>(n))});
    frame = Cat({frame, FileBuilder().be(Crc<16, 0x8005>(frame), 2)});
    shortest = std::min(shortest, frame.size());
    longest = std::max(longest, frame.size());
    samples += last ? lastSamples : 4096;
    out.push_back(frame);
  }
  FileBuilder f;
  f.text("fLaC").le(0, 1).be(34, 3).be(4096, 2).be(4096, 2);
  f.be(bounds ? shortest : 0, 3).be(bounds ? longest : 0, 3);
  f.be(std::uint64_t{44100} << 44 | std::uint64_t{1} << 41 | std::uint64_t{15} << 36 |
           (counted ? samples : 0),
       8);
  f.fill(16).le(0x81, 1).be(8, 3).fill(8);  // MD5, then a last PADDING block
  for (const auto& frame : out)
    f.raw(frame);
  return f;
}

TEST(FlacDetectorTest, FramesToTheSampleCount) {
  const ByteVector flac = Flac(6, 1000), bare = Flac(6, 1000, false, false);
  // Where frame n begins: its sync code, block size and rate, channels and
  // depth, number.
  const auto frame = [&](std::uint8_t n, std::uint8_t sizeAndRate = 0xC9) {
    const ByteVector header = {0xFF, 0xF8, sizeAndRate, 0x18, n};
    return static_cast<std::size_t>(
        std::search(flac.begin(), flac.end(), header.begin(), header.end()) - flac.begin());
  };
  ByteVector brokenThird = flac;
  brokenThird[frame(2) + 4] ^= 0x40;  // its frame number
  test::CheckCases({
      {"whole", DetectFlac, flac},
      {"no sample count or frame sizes", DetectFlac, bare},
      {"then another FLAC right after", DetectFlac, Cat({flac, flac}), flac.size()},
      {"the last frame cut short", DetectFlac, Cut(flac, flac.size() - 10), frame(5, 0x79)},
      {"a frame that does not check out ends it", DetectFlac, brokenThird, frame(2)},
      {"STREAMINFO of 33 bytes", DetectFlac, test::With(flac, 7, {33}), 0},
      {"first frame header CRC", DetectFlac, test::With(flac, frame(0) + 5, {0}), 0},
  });
}

// ----------------------------------------------------------- Matroska ---

// An element: ID bytes, a size of 8 bytes (or unknown), the data.
ByteVector Element(std::uint32_t id, const ByteVector& data, bool unknownSize = false) {
  FileBuilder e;
  e.be(id, id > 0xFFFFFF ? 4 : id > 0xFFFF ? 3 : id > 0xFF ? 2 : 1);
  if (unknownSize) return e.le(0x01, 1).fill(7, 0xFF).raw(data);
  return e.be(0x0100000000000000ull | data.size(), 8).raw(data);
}
ByteVector Ebml(std::string_view docType) {
  return Element(0x1A45DFA3, Element(0x4282, ByteVector(docType.begin(), docType.end())));
}
ByteVector Cluster(unsigned seed, bool unknownSize = false) {
  return Element(0x1F43B675, Cat({Element(0xE7, {0}), Element(0xA3, Noise(700, seed))}),
                 unknownSize);
}

TEST(MatroskaDetectorTest, SegmentSizeOrTheElementWalk) {
  const ByteVector info = Element(0x1549A966, Noise(20, 9));
  const ByteVector segment = Cat({info, Cluster(1), Cluster(2)});
  const ByteVector mkv = Cat({Ebml("matroska"), Element(0x18538067, segment)});
  const ByteVector live = Cat(
      {Ebml("webm"), Element(0x18538067, Cat({info, Cluster(3, true), Cluster(4, true)}), true)});
  const ByteVector jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0, 16};
  // The Segment's size damaged: larger than the source.
  ByteVector damaged = mkv;
  damaged[Ebml("matroska").size() + 5] = 0x7F;
  test::CheckCases({
      {"Matroska", DetectMatroska, mkv, kWhole, "mkv"},
      {"written live, then a JPEG", DetectMatroska, Cat({live, jpeg}), live.size(), "webm"},
      {"written live, then another file", DetectMatroska, Cat({live, mkv}), live.size()},
      {"Segment size damaged", DetectMatroska, damaged, mkv.size()},
      {"another document type", DetectMatroska, Cat({Ebml("dvd"), Element(0x18538067, segment)}),
       0},
      {"no Segment", DetectMatroska, Cat({Ebml("webm"), Element(0x1654AE6B, segment)}), 0},
  });
  // Cut short by the end of the source (1024 bytes): up to the last block,
  // which does not fit.
  const std::size_t block = 1 + 8 + 700;
  ASSERT_GT(live.size() - block, 512u);
  EXPECT_EQ(DetectAtEnd(DetectMatroska, Cut(live, 1000)).size, live.size() - block);
}

// ------------------------------------------------------ ISO base media ---

ByteVector Box(std::string_view type, const ByteVector& data) {
  return FileBuilder().be(data.size() + 8, 4).text(type).raw(data);
}
ByteVector Ftyp(std::string_view major, std::string_view compatible) {
  return Box("ftyp", Cat({FileBuilder().text(major).be(0, 4),
                          ByteVector(compatible.begin(), compatible.end())}));
}

TEST(IsoMediaDetectorTest, TheBoxChain) {
  const ByteVector mp4 = Cat({Ftyp("isom", "isomiso2mp41"), Box("free", {}),
                              Box("mdat", Noise(3000, 1)), Box("moov", Noise(400, 2))});
  const ByteVector heif =
      Cat({Ftyp("mif1", "mif1avifmiaf"), Box("meta", Noise(300, 3)), Box("mdat", Noise(900, 4))});
  // mdat with a 64-bit size.
  const ByteVector large = Cat({Ftyp("mp42", "mp42"), Box("moov", Noise(100, 5)),
                                FileBuilder().be(1, 4).text("mdat").be(616, 8).raw(Noise(600, 6))});
  test::CheckCases({
      {"MP4, moov last", DetectIsoMedia, mp4},
      {"HEIF of the AVIF brand", DetectIsoMedia, heif, kWhole, "avif"},
      {"a 64-bit box size", DetectIsoMedia, large},
      {"then another MP4 right after", DetectIsoMedia, Cat({mp4, mp4}), mp4.size()},
      {"then a RIFF", DetectIsoMedia, Cat({mp4, FileBuilder().text("RIFF").le(8, 4).text("WAVE")}),
       mp4.size()},
      {"no moov", DetectIsoMedia, Cat({Ftyp("isom", "isom"), Box("mdat", Noise(100, 7))}), 0},
      {"cut short inside mdat: no moov", DetectIsoMedia, Cut(mp4, 2000), 0},
      {"a box of size 0 ends the chain", DetectIsoMedia,
       Cat({Ftyp("qt  ", ""), Box("moov", {}), FileBuilder().be(0, 4).text("mdat")}), 24},
      {"ftyp too short", DetectIsoMedia, test::With(mp4, 3, {12}), 0},
  });
}

// ---------------------------------------------------------------- ASF ---

constexpr std::array<std::uint8_t, 16> kHeaderGuid = {
    0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
ByteVector Guid(std::uint32_t first, std::uint16_t second, std::uint16_t third,
                std::uint64_t last) {
  return FileBuilder().le(first, 4).le(second, 2).le(third, 2).be(last, 8);
}
ByteVector AsfObject(const ByteVector& guid, const ByteVector& data) {
  return FileBuilder().raw(guid).le(data.size() + 24, 8).raw(data);
}

// An ASF file: header (File Properties with `fileSize` and `flags`, one
// stream of `video` or audio), a Data object of `packets` bytes, an index.
ByteVector Asf(std::uint64_t fileSize, std::uint32_t flags, bool video, std::size_t packets) {
  const ByteVector properties =
      AsfObject(Guid(0x8CABDCA1, 0xA947, 0x11CF, 0x8EE400C00C205365),
                FileBuilder().fill(16).le(fileSize, 8).fill(40).le(flags, 4).fill(12));
  const ByteVector stream =
      AsfObject(Guid(0xB7DC0791, 0xA9B7, 0x11CF, 0x8EE600C00C205365),
                Cat({video ? Guid(0xBC19EFC0, 0x5B4D, 0x11CF, 0xA8FD00805F5C442B)
                           : Guid(0xF8699E40, 0x5B4D, 0x11CF, 0xA8FD00805F5C442B),
                     ByteVector(40)}));
  const ByteVector children = Cat({properties, stream});
  const ByteVector header = FileBuilder()
                                .raw({kHeaderGuid.begin(), kHeaderGuid.end()})
                                .le(30 + children.size(), 8)
                                .le(2, 4)
                                .le(0x0201, 2)
                                .raw(children);
  const ByteVector data =
      AsfObject(Guid(0x75B22636, 0x668E, 0x11CF, 0xA6D900AA0062CE6C), Noise(packets, 8));
  const ByteVector index =
      AsfObject(Guid(0x33000890, 0xE5B1, 0x11CF, 0x89F400A0C90349CB), ByteVector(30));
  return Cat({header, data, index});
}

TEST(AsfDetectorTest, FilePropertiesOrTheObjectWalk) {
  const std::size_t size = Asf(0, 0, true, 2000).size();
  const ByteVector wmv = Asf(size, 2, true, 2000), wma = Asf(size, 2, false, 2000);
  const ByteVector live = Asf(0, 1, true, 2000);  // broadcast: the size is not valid
  const std::size_t header = wmv[16] | wmv[17] << 8;
  ByteVector noData = wmv;
  noData[header] ^= 0xFF;
  test::CheckCases({
      {"video", DetectAsf, wmv, size, "wmv"},
      {"audio", DetectAsf, wma, size, "wma"},
      {"broadcast: the objects walked", DetectAsf, Cat({live, wmv}), size},
      {"header size too small", DetectAsf, test::With(wmv, 16, {20}), 0},
      {"no Data object after the header", DetectAsf, noData, 0},
  });
  EXPECT_EQ(Detect(DetectAsf, wma).category, "Audio");
}

// --------------------------------------------------------------- RIFF ---

ByteVector Chunk(std::string_view id, const ByteVector& data, bool pad = true) {
  FileBuilder c;
  c.text(id).le(data.size(), 4).raw(data);
  if (pad && data.size() % 2 != 0) c.fill(1);
  return c;
}
ByteVector Riff(std::string_view form, const ByteVector& chunks, std::int64_t sizeFix = 0) {
  return FileBuilder()
      .text("RIFF")
      .le(static_cast<std::uint64_t>(static_cast<std::int64_t>(chunks.size() + 4) + sizeFix), 4)
      .text(form)
      .raw(chunks);
}

TEST(RiffDetectorTest, TheRiffSizeExactly) {
  const ByteVector wave =
      Riff("WAVE", Cat({Chunk("fmt ", ByteVector(16)), Chunk("data", Noise(999, 1))}));
  const ByteVector unpadded =
      Riff("WAVE", Cat({Chunk("fmt ", ByteVector(16)), Chunk("data", Noise(999, 1), false)}));
  const ByteVector avi =
      Riff("AVI ", Cat({Chunk("LIST", Noise(200, 2)), Chunk("LIST", Noise(3000, 3))}));
  const ByteVector avix = Riff("AVIX", Chunk("LIST", Noise(500, 4)));
  test::CheckCases({
      {"WAVE", DetectRiff, wave, kWhole, "wav"},
      {"WAVE, no pad byte after odd data", DetectRiff, unpadded},
      {"WebP", DetectRiff, Riff("WEBP", Chunk("VP8L", Noise(77, 5))),
       Riff("WEBP", Chunk("VP8L", Noise(77, 5))).size(), "webp"},
      {"AVI then its AVIX parts", DetectRiff, Cat({avi, avix, avix}), avi.size() + 2 * avix.size(),
       "avi"},
      {"then another RIFF right after", DetectRiff, Cat({wave, wave}), wave.size()},
      // A size the chunks do not fill: carved as it says, not skipped.
      {"size larger than its chunks", DetectRiff, Riff("WAVE", Chunk("fmt ", ByteVector(16)), 40),
       28 + 8 + 40, "wav", false},
      {"first chunk that is no chunk", DetectRiff, test::With(wave, 12, {0x01}), 0},
      {"first chunk past the size", DetectRiff, test::With(wave, 16, {0xFF, 0xFF}), 0},
  });
}

// ------------------------------------------------------- past 4 GiB ---

TEST(MediaDetectorTest, LengthsPastFourGiB) {
  const std::uint64_t big = 5 * kGiB;
  struct Large {
    const char* what;
    Detector detector;
    std::vector<std::pair<std::uint64_t, ByteVector>> pieces;
    std::uint64_t size;
  };
  // Matroska: a Segment of 5 GiB whose first child is its Info.
  const ByteVector ebml = Ebml("matroska");
  const ByteVector segment =
      Cat({FileBuilder().be(0x18538067, 4).be(0x0100000000000000ull | big, 8),
           Element(0x1549A966, {})});
  // MP4: moov, then mdat of 5 GiB with a 64-bit size.
  const ByteVector mp4 = Cat({Ftyp("isom", "isom"), Box("moov", Noise(50, 1)),
                              FileBuilder().be(1, 4).text("mdat").be(big, 8)});
  const std::uint64_t mp4Data = mp4.size() - 16;
  // ASF: a File Properties object that says 5 GiB.
  const ByteVector asf = Asf(big, 2, true, 100);
  // AVI: a first RIFF of 3 GiB, an AVIX of 2 GiB.
  const std::uint64_t part = 3 * kGiB;
  const ByteVector avi =
      FileBuilder().text("RIFF").le(part - 8, 4).text("AVI ").text("LIST").le(part - 20, 4);
  const ByteVector avix = FileBuilder().text("RIFF").le(2 * kGiB - 8, 4).text("AVIX");
  const Large cases[] = {
      {"Matroska", DetectMatroska, {{0, Cat({ebml, segment})}}, ebml.size() + 12 + big},
      {"MP4", DetectIsoMedia, {{0, mp4}}, mp4Data + big},
      {"ASF", DetectAsf, {{0, asf}}, big},
      {"AVI", DetectRiff, {{0, avi}, {part, avix}}, part + 2 * kGiB},
  };
  for (const Large& c : cases) {
    SCOPED_TRACE(c.what);
    auto source = std::make_shared<SparseSource>(6 * kGiB);
    for (const auto& [at, bytes] : c.pieces)
      source->Place(at, bytes);
    const test::Detected d = Detect(c.detector, source);
    EXPECT_EQ(d.size, c.size);
    EXPECT_TRUE(d.skips);
  }
}

// ------------------------------------------------------------ search ---

std::vector<SignatureRecord> Rows(const std::vector<std::string>& extensions) {
  std::vector<SignatureRecord> rows;
  for (const SignatureRecord& r : test::TypeTable()) {
    if (std::find(extensions.begin(), extensions.end(), r.ext()) != extensions.end())
      rows.push_back(r);
  }
  return rows;
}

// What the search carves from `image` with `types`: (sector, extension, size).
std::vector<std::tuple<std::uint64_t, std::string, std::uint64_t>> Search(
    std::shared_ptr<SectorSource> source, const std::vector<SignatureRecord>& types) {
  const auto volume = Volume::Open(SourceKind::PhysicalDisk, std::move(source), u"search").volume;
  const test::ScanRun scan = test::ScanVolume(*volume, ScanMode::Advanced, types, 4096);
  std::vector<std::tuple<std::uint64_t, std::string, std::uint64_t>> found;
  for (const auto& [sector, c] : test::CarvedItems(scan.tree))
    found.emplace_back(sector, c.extension, c.item->size);
  return found;
}

// The ZIP family is one search: whichever of its types is chosen, the
// detector files each archive by what it holds, and a hit it refuses leaves
// no item for the others. A type of another code that shares the signature
// is still an alias.
TEST(SignatureFamilyTest, OneDetectorSpeaksForItsFamily) {
  ByteVector disk(64 * 512, 0);
  const ByteVector docx = test::Zip({{"[Content_Types].xml", "<x/>"}, {"word/a.xml", "<y/>"}});
  const ByteVector stub = FileBuilder().le(0x04034B50, 4).le(200, 2);  // refused
  std::copy(docx.begin(), docx.end(), disk.begin() + 512);
  std::copy(stub.begin(), stub.end(), disk.begin() + 10 * 512);
  auto source = std::make_shared<test::FakeSource>(disk);
  using Found = std::vector<std::tuple<std::uint64_t, std::string, std::uint64_t>>;
  EXPECT_EQ(Search(source, Rows({"zip", "odt", "docx", "epub"})),
            (Found{{1, "docx", docx.size()}}));
  EXPECT_EQ(Search(source, Rows({"odt"})), (Found{{1, "docx", docx.size()}}));
  SignatureRecord other = Rows({"zip"}).front();
  other.typeCode = 511;
  other.SetExtension("pk");
  EXPECT_EQ(Search(source, {other, Rows({"zip"}).front()}),
            (Found{{1, "docx", docx.size()}, {10, "pk", 4096}}));
}

// A length past 4 GiB reaches the item whole, and the walk skips the file
// whole: the JPEG right after it is found.
TEST(SignatureFamilyTest, AFilePastFourGiBIsCarvedAndSkippedWhole) {
  const std::uint64_t big = 4 * kGiB + 3 * 512;  // the Segment's data
  const ByteVector mkv = Cat({Ebml("webm"), FileBuilder()
                                                .be(0x18538067, 4)
                                                .be(0x0100000000000000ull | big, 8)
                                                .raw(Element(0x1549A966, {}))});
  const std::uint64_t length = Ebml("webm").size() + 12 + big;
  const std::uint64_t jpeg = 1 + (length + 511) / 512;
  auto source = std::make_shared<SparseSource>((jpeg + 64) * 512);
  source->Place(512, mkv);
  source->Place(jpeg * 512, test::Unit("baseline.jpg"));
  const auto found = Search(source, Rows({"webm", "jpg"}));
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0], std::make_tuple(std::uint64_t{1}, std::string("webm"), length));
  EXPECT_EQ(std::get<0>(found[1]), jpeg);
}

}  // namespace
}  // namespace restorix
