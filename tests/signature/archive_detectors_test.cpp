// ZIP, 7z, RAR, gzip, PDF, SQLite and PSD files laid out here: whole, cut
// short, damaged, followed right away by another file, and past 4 GiB.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "signature/file_builder.h"
#include "support/detector_bench.h"
#include "support/fake_source.h"
#include "support/test_support.h"

namespace restorix {
namespace {

using test::ByteVector;
using test::Cut;
using test::Detect;
using test::DetectAtEnd;
using test::Entry;
using test::FileBuilder;
using test::kWhole;
using test::SparseSource;
using test::Zip;

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

// `bytes` with the byte at `at` inverted.
ByteVector Flip(ByteVector bytes, std::size_t at) {
  bytes.at(at) ^= 0xFF;
  return bytes;
}

// ---------------------------------------------------------------- ZIP ---

const std::vector<Entry> kPlain = {{"notes.txt", "hello"}, {"more.txt", std::string(700, 'x')}};

TEST(ZipDetectorTest, WalksToTheEndRecordAndNamesWhatItHolds) {
  const ByteVector plain = Zip(kPlain), withComment = Zip(kPlain, true, "a comment");
  const ByteVector lost = Zip(kPlain, false);
  // An APK's signing block lies between the last entry and the directory.
  ByteVector apk = Zip({{"AndroidManifest.xml", "<m/>"}});
  const std::size_t directory = Zip({{"AndroidManifest.xml", "<m/>"}}, false).size();
  const ByteVector block = FileBuilder().le(40, 8).fill(16, 7).le(40, 8).text("APK Sig Block 42");
  apk.insert(apk.begin() + static_cast<std::ptrdiff_t>(directory), block.begin(), block.end());
  apk[apk.size() - 6] = static_cast<std::uint8_t>(apk[apk.size() - 6] + block.size());
  test::CheckCases({
      {"stored entries", DetectZip, plain, kWhole, "zip"},
      {"a comment ends it", DetectZip, withComment},
      {"signed data descriptors", DetectZip, Zip({{"a", "abc", 1}, {"b", "PK\x03\x04", 1}})},
      {"unsigned data descriptors", DetectZip, Zip({{"a", "abcd", 2}, {"b", "", 2}})},
      {"Android, signed", DetectZip, apk, kWhole, "apk"},
      // Cut short: the whole entries, for a repair tool.
      {"directory cut off", DetectZip, Cut(plain, plain.size() - 30), lost.size()},
      {"no directory, then another archive", DetectZip, test::Cat({lost, plain}), lost.size()},
      {"version 200", DetectZip, test::With(plain, 4, {200}), 0},
      {"no name", DetectZip, test::With(plain, 26, {0}), 0},
  });
  // Named by the first entry (mimetype) or the names of all of them.
  const struct {
    std::vector<std::string> names;
    std::string extension, category;
  } kinds[] = {
      {{"[Content_Types].xml", "_rels/.rels", "word/document.xml"}, "docx", "Documents"},
      {{"xl/workbook.xml", "[Content_Types].xml"}, "xlsx", "Documents"},
      {{"[Content_Types].xml", "ppt/slides/slide1.xml"}, "pptx", "Documents"},
      {{"mimetype:application/vnd.oasis.opendocument.text", "content.xml"}, "odt", "Documents"},
      {{"mimetype:application/vnd.oasis.opendocument.spreadsheet"}, "ods", "Documents"},
      {{"mimetype:application/vnd.oasis.opendocument.presentation"}, "odp", "Documents"},
      {{"mimetype:application/epub+zip", "OEBPS/content.opf"}, "epub", "Documents"},
      {{"a.txt", "mimetype:application/epub+zip"}, "zip", "Archives"},  // not first
      {{"word/document.xml"}, "zip", "Archives"},                       // no [Content_Types].xml
      {{"META-INF/MANIFEST.MF", "A.class"}, "jar", "Archives"},
      {{"AndroidManifest.xml", "classes.dex"}, "apk", "Archives"},
  };
  for (const auto& kind : kinds) {
    std::vector<Entry> entries;
    for (const std::string& name : kind.names) {
      const std::size_t colon = name.find(':');
      entries.push_back(
          {name.substr(0, colon), colon == std::string::npos ? "<x/>" : name.substr(colon + 1)});
    }
    const test::Detected d = Detect(DetectZip, Zip(entries));
    EXPECT_EQ(d.extension, kind.extension) << kind.names[0];
    EXPECT_EQ(d.category, kind.category) << kind.names[0];
  }
  // The source ends inside the first entry.
  EXPECT_FALSE(DetectAtEnd(DetectZip, Cut(Zip({{"big", std::string(2000, 'x')}}), 600)).confirmed);
}

TEST(ZipDetectorTest, Zip64PastFourGiB) {
  const std::uint64_t data = 5 * kGiB;
  FileBuilder local;
  local.le(0x04034B50, 4).le(45, 2).fill(12).le(0xFFFFFFFF, 4).le(0xFFFFFFFF, 4);
  local.le(1, 2).le(20, 2).text("a").le(1, 2).le(16, 2).le(data, 8).le(data, 8);
  const std::uint64_t directory = local.size() + data;
  FileBuilder tail;
  tail.le(0x02014B50, 4).le(45, 2).le(45, 2).fill(12).le(0xFFFFFFFF, 4).le(0xFFFFFFFF, 4);
  tail.le(1, 2).le(28, 2).fill(6).le(0, 4).le(0xFFFFFFFF, 4).text("a");
  tail.le(1, 2).le(24, 2).le(data, 8).le(data, 8).le(0, 8);
  const std::uint64_t record = directory + tail.size();
  tail.le(0x06064B50, 4).le(44, 8).le(45, 2).le(45, 2).le(0, 8).le(1, 8).le(1, 8);
  tail.le(record - directory, 8).le(directory, 8);
  tail.le(0x07064B50, 4).le(0, 4).le(record, 8).le(1, 4);
  tail.le(0x06054B50, 4).le(0, 4).le(0xFFFF, 2).le(0xFFFF, 2).le(~0u, 4).le(~0u, 4).le(0, 2);
  auto source = std::make_shared<SparseSource>(6 * kGiB);
  source->Place(0, local);
  source->Place(directory, tail);
  const test::Detected d = Detect(DetectZip, source);
  EXPECT_TRUE(d.confirmed);
  EXPECT_EQ(d.size, directory + tail.size());
  EXPECT_TRUE(d.skips);
}

// ------------------------------------------------------------- 7z, RAR ---

// A 7z start header and its next header (`header`) `offset` bytes on.
ByteVector SevenZip(std::uint64_t offset, const ByteVector& header, bool startHeaderOnly = false) {
  FileBuilder fields;
  fields.le(offset, 8).le(header.size(), 8).le(test::Crc32(header), 4);
  FileBuilder z;
  z.text("7z\xBC\xAF\x27\x1C").be(4, 2).le(test::Crc32(fields), 4).raw(fields);
  if (startHeaderOnly) return z;
  return z.fill(offset, 0x5A).raw(header);
}

// A RAR 4 block: its CRC-16, then type, flags, size and the fields.
ByteVector Rar4Block(std::uint8_t type, std::uint16_t flags, const ByteVector& fields) {
  const ByteVector header =
      FileBuilder().le(type, 1).le(flags, 2).le(fields.size() + 7, 2).raw(fields);
  return FileBuilder().le(test::Crc32(header) & 0xFFFF, 2).raw(header);
}
ByteVector Rar4File(std::uint32_t packed, std::uint16_t flags = 0x8000,
                    std::uint32_t highPacked = 0) {
  FileBuilder f;
  f.le(packed, 4).le(packed, 4).le(3, 1).le(0, 4).le(0, 4).le(29, 1).le(0x30, 1).le(1, 2);
  f.le(0x20, 4);
  if ((flags & 0x100) != 0) f.le(highPacked, 4).le(highPacked, 4);
  return Rar4Block(0x74, flags, f.text("a"));
}
const ByteVector kRar4Start =
    test::Cat({FileBuilder().text("Rar!\x1A\x07").le(0, 1), Rar4Block(0x73, 0, ByteVector(6))});
const ByteVector kRar4End = Rar4Block(0x7B, 0x4000, {});

// A RAR 5 block: CRC-32, header size, type, flags, data size (when
// `data` is nonzero), fields.
ByteVector VarInt(std::uint64_t v) {
  ByteVector out;
  do {
    out.push_back(static_cast<std::uint8_t>((v & 0x7F) | (v > 0x7F ? 0x80 : 0)));
    v >>= 7;
  } while (v != 0);
  return out;
}
ByteVector Rar5Block(std::uint64_t type, std::uint64_t data, const ByteVector& fields = {0}) {
  ByteVector header = test::Cat(
      {VarInt(type), VarInt(data != 0 ? 2 : 0), data != 0 ? VarInt(data) : ByteVector{}, fields});
  header = test::Cat({VarInt(header.size()), header});
  return test::Cat({FileBuilder().le(test::Crc32(header), 4), header});
}
const ByteVector kRar5Start =
    test::Cat({FileBuilder().text("Rar!\x1A\x07").le(1, 1).le(0, 1), Rar5Block(1, 0)});

TEST(ArchiveDetectorTest, SevenZipAndRar) {
  const ByteVector header = {0x01, 0x04, 0x06, 0x00, 0x00};
  const ByteVector seven = SevenZip(300, header);
  const ByteVector rar4 = test::Cat({kRar4Start, Rar4File(100), ByteVector(100, 9), kRar4End});
  const ByteVector rar5 =
      test::Cat({kRar5Start, Rar5Block(2, 100), ByteVector(100, 9), Rar5Block(5, 0)});
  const std::size_t rar4Files = rar4.size() - kRar4End.size();
  test::CheckCases({
      {"7z", DetectSevenZip, seven},
      {"7z start header CRC", DetectSevenZip, Flip(seven, 8), 0},
      {"7z header CRC", DetectSevenZip, Flip(seven, seven.size() - 1), 0},
      {"7z header that is none", DetectSevenZip, SevenZip(300, {0x05, 0, 0}), 0},
      {"7z packed header", DetectSevenZip, SevenZip(10, {0x17, 6})},
      {"RAR 4", DetectRar, rar4},
      {"RAR 4 then another", DetectRar, test::Cat({rar4, rar4}), rar4.size()},
      {"RAR 4 archive header CRC", DetectRar, Flip(rar4, 7), 0},
      {"RAR 4 without its end block", DetectRar, Cut(rar4, rar4Files), rar4Files},
      {"RAR 5", DetectRar, rar5},
      {"RAR 5 main header CRC", DetectRar, Flip(rar5, 8), 0},
      {"RAR 5 file header CRC: the archive ends before it", DetectRar,
       Flip(rar5, kRar5Start.size()), kRar5Start.size()},
  });
  // Encrypted headers: confirmed, with no length to give.
  const ByteVector encrypted5 =
      test::Cat({FileBuilder().text("Rar!\x1A\x07").le(1, 1).le(0, 1), Rar5Block(4, 0)});
  const ByteVector flagged = test::Cat(
      {FileBuilder().text("Rar!\x1A\x07").le(0, 1), Rar4Block(0x73, 0x80, ByteVector(6))});
  for (const ByteVector& bytes : {flagged, encrypted5}) {
    const test::Detected d = Detect(DetectRar, bytes);
    EXPECT_TRUE(d.confirmed);
    EXPECT_EQ(d.size, 0u);
  }
}

TEST(ArchiveDetectorTest, SevenZipAndRarPastFourGiB) {
  const ByteVector header = {0x01, 0x00};
  const std::uint64_t data = 5 * kGiB;
  auto seven = std::make_shared<SparseSource>(6 * kGiB);
  seven->Place(0, SevenZip(data, header, true));
  seven->Place(32 + data, header);
  auto rar4 = std::make_shared<SparseSource>(6 * kGiB);
  const ByteVector file4 = test::Cat({kRar4Start, Rar4File(1 << 30, 0x8100, 1)});
  rar4->Place(0, file4);
  rar4->Place(file4.size() + (5 * kGiB), kRar4End);
  auto rar5 = std::make_shared<SparseSource>(6 * kGiB);
  const ByteVector file5 = test::Cat({kRar5Start, Rar5Block(2, data)});
  rar5->Place(0, file5);
  rar5->Place(file5.size() + data, Rar5Block(5, 0));
  const std::pair<Detector, std::shared_ptr<SparseSource>> cases[] = {
      {DetectSevenZip, seven}, {DetectRar, rar4}, {DetectRar, rar5}};
  const std::uint64_t sizes[] = {32 + data + header.size(), file4.size() + data + kRar4End.size(),
                                 file5.size() + data + Rar5Block(5, 0).size()};
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const test::Detected d = Detect(cases[i].first, cases[i].second);
    EXPECT_EQ(d.size, sizes[i]);
    EXPECT_TRUE(d.skips);
  }
}

// --------------------------------------------------------------- gzip ---

// A gzip member of `text`, with an extra field of `extra` bytes and a name.
ByteVector Gzip(const std::string& text, std::size_t extra = 0, const std::string& name = "") {
  ByteVector deflated(compressBound(static_cast<uLong>(text.size())) + 64);
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = deflated.data();
  z.avail_out = static_cast<uInt>(deflated.size());
  deflate(&z, Z_FINISH);
  deflated.resize(z.total_out);
  deflateEnd(&z);
  const int flags = (extra != 0 ? 4 : 0) | (name.empty() ? 0 : 8);
  FileBuilder g;
  g.le(0x088B1F, 3).le(flags, 1).le(0, 4).le(2, 1).le(3, 1);
  if (extra != 0) g.le(extra, 2).fill(extra, 1);
  if (!name.empty()) g.text(name).le(0, 1);
  const ByteVector data(text.begin(), text.end());
  return g.raw(deflated).le(test::Crc32(data), 4).le(text.size(), 4);
}

TEST(ArchiveDetectorTest, Gzip) {
  std::string text;
  for (int i = 0; i < 2000; ++i)
    text += "line " + std::to_string(i * 7919 % 1000) + "\n";
  const ByteVector one = Gzip(text), named = Gzip(text, 10, "lines.txt");
  // Padded by its extra field to end on a sector boundary, where the next
  // file may as well begin.
  const ByteVector even = Gzip("short", 512 - Gzip("short", 1).size() + 1);
  ASSERT_EQ(even.size(), 512u);
  test::CheckCases({
      {"one member", DetectGzip, one},
      {"name and extra field", DetectGzip, named},
      {"two members back to back", DetectGzip, test::Cat({named, one}), named.size() + one.size()},
      {"then one at a sector start", DetectGzip, test::Cat({even, one}), 512},
      {"trailer CRC", DetectGzip, Flip(one, one.size() - 8), 0},
      {"trailer length", DetectGzip, Flip(one, one.size() - 1), 0},
      {"not deflate", DetectGzip, test::With(one, 10, {0xFF, 0xFF, 0xFF}), 0},
      {"reserved flags", DetectGzip, test::With(one, 3, {0x20}), 0},
  });
  EXPECT_FALSE(DetectAtEnd(DetectGzip, Cut(one, one.size() / 2)).confirmed);
}

// ---------------------------------------------------------------- PDF ---

// A PDF of one object, its cross-reference table and trailer; `eol` ends
// every line.
std::string Pdf(const std::string& eol = "\n") {
  std::string pdf = "%PDF-1.4" + eol + "1 0 obj << /Type /Catalog >> endobj" + eol;
  const std::size_t xref = pdf.size();
  pdf += "xref" + eol + "0 2" + eol + "trailer << /Root 1 0 R >>" + eol;
  return pdf + "startxref" + eol + std::to_string(xref) + eol + "%%EOF" + eol;
}
// The same with an incremental update appended.
std::string Updated() {
  std::string pdf = Pdf();
  const std::size_t xref = pdf.size() + 28;
  pdf += "2 0 obj << /Title (b) >> endobj\nxref\n2 1\ntrailer << /Prev 9 >>\n";
  return pdf + "startxref\n" + std::to_string(xref) + "\n%%EOF\n";
}
// A linearised file: a first-page section ending in "startxref 0" and
// "%%EOF", the rest of the objects, the main cross-reference section.
std::string Linearised() {
  std::string pdf = "%PDF-1.6\n1 0 obj << /Linearized 1 >> endobj\nxref\n1 1\ntrailer << >>\n";
  pdf += "startxref\n0\n%%EOF\n2 0 obj << /Type /Catalog >> endobj\n";
  const std::size_t xref = pdf.size();
  return pdf + "xref\n0 1\ntrailer << >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
}
ByteVector Bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

TEST(PdfDetectorTest, EndsAtTheLastEndOfFileThatClosesIt) {
  const std::string pdf = Pdf();
  // A PDF cut short, and another at the next sector.
  ByteVector cutThenAnother = Cut(Bytes(pdf), 512);
  std::fill(cutThenAnother.begin() + 60, cutThenAnother.end(), ' ');
  cutThenAnother = test::Cat({cutThenAnother, Bytes(pdf)});
  // The end's startxref points elsewhere: taken, as nothing better follows.
  std::string misplaced = pdf;
  const std::size_t offset = misplaced.find("startxref\n") + 10;
  misplaced.replace(offset, misplaced.find('\n', offset) - offset, "1");
  test::CheckCases({
      {"one section", DetectPdf, Bytes(pdf)},
      {"CR LF lines", DetectPdf, Bytes(Pdf("\r\n"))},
      {"an incremental update", DetectPdf, Bytes(Updated())},
      {"linearised", DetectPdf, Bytes(Linearised())},
      {"then another PDF right after", DetectPdf, Bytes(pdf + Pdf()), pdf.size()},
      {"cut short, then another PDF", DetectPdf, cutThenAnother, 0},
      {"startxref pointing elsewhere", DetectPdf, Bytes(misplaced)},
      {"no startxref", DetectPdf, Bytes("%PDF-1.4\n1 0 obj endobj\n%%EOF\n"), 0},
      {"no version", DetectPdf, Bytes("%PDF-x" + pdf.substr(6)), 0},
  });
  EXPECT_FALSE(DetectAtEnd(DetectPdf, Bytes(pdf.substr(0, pdf.size() - 7))).confirmed);
}

// ------------------------------------------------------- SQLite, PSD ---

ByteVector Sqlite(std::uint16_t pageSize, std::uint32_t pages, std::uint32_t validFor = 5) {
  FileBuilder s;
  s.text(std::string("SQLite format 3") + '\0').be(pageSize, 2).le(1, 1).le(1, 1).le(0, 1);
  s.le(64, 1).le(32, 1).le(32, 1).be(5, 4).be(pages, 4).fill(60).be(validFor, 4).be(3040001, 4);
  return s.fill(pageSize == 1 ? 0 : pageSize - 100);
}

// A PSD (or PSB) of `width` x 2 pixels, 3 channels of 8 bits, with
// `compression` and (RLE) a row count of `rowCount` for every row.
ByteVector Psd(std::uint16_t version, std::uint16_t compression, std::uint32_t rowCount = 3) {
  const std::uint32_t width = 10, height = 2, channels = 3;
  FileBuilder p;
  p.text("8BPS").be(version, 2).fill(6).be(channels, 2).be(height, 4).be(width, 4).be(8, 2);
  p.be(3, 2).be(0, 4).be(12, 4).text("8BIM").fill(8).be(0, version == 2 ? 8 : 4);
  p.be(compression, 2);
  if (compression == 0) return p.fill(channels * height * width, 0x80);
  for (std::uint32_t row = 0; row < channels * height; ++row)
    p.be(rowCount, version == 2 ? 4 : 2);
  return p.fill(channels * height * rowCount, 0x11);
}

TEST(ArchiveDetectorTest, SqliteAndPsd) {
  test::CheckCases({
      {"SQLite", DetectSqlite, Sqlite(1024, 3), 3 * 1024},
      {"SQLite, 64 KiB pages", DetectSqlite, Sqlite(1, 2), 2 * 65536},
      {"SQLite page size 1000", DetectSqlite, Sqlite(1000, 3), 0},
      {"SQLite payload fractions", DetectSqlite, test::With(Sqlite(1024, 3), 21, {65}), 0},
      {"PSD raw", DetectPsd, Psd(1, 0)},
      {"PSD run-length", DetectPsd, Psd(1, 1)},
      {"PSB run-length", DetectPsd, Psd(2, 1)},
      {"a row longer than can be", DetectPsd, Psd(1, 1, 40), 0},
      {"PSD version 3", DetectPsd, test::With(Psd(1, 0), 5, {3}), 0},
      {"no channels", DetectPsd, test::With(Psd(1, 0), 13, {0}), 0},
  });
  // No length to find: confirmed, the assumed size carved, no skip.
  for (const ByteVector& bytes : {Sqlite(1024, 3, 4), Psd(1, 2)}) {
    const test::Detected d = Detect(bytes[0] == 'S' ? DetectSqlite : DetectPsd, bytes);
    EXPECT_TRUE(d.confirmed);
    EXPECT_EQ(d.size, 0u);
  }
  // 20000 rows: their counts run past the end of the source.
  EXPECT_FALSE(DetectAtEnd(DetectPsd, test::With(Psd(1, 1), 16, {0x4E, 0x20})).confirmed);
  const test::Detected large = Detect(DetectSqlite, Sqlite(1, 100000));
  EXPECT_EQ(large.size, 100000ull * 65536);
  EXPECT_TRUE(large.skips);
}

}  // namespace
}  // namespace restorix
