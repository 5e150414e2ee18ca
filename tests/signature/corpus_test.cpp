// The signature search on files that real programs wrote: laid at sector
// boundaries in an image between random and zero filler, and kept (or
// deleted) on FAT32 and NTFS volumes. Per file: found at its sector, with
// the size its format gives (or the size a rule of the search gives), and
// recovered byte for byte; nothing is carved from the filler.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "catalogue/recovery_writer.h"
#include "disk/volume.h"
#include "fs/scan.h"
#include "signature/carving_corpus.h"
#include "signature/search.h"
#include "signature/signature_file.h"
#include "support/fake_source.h"
#include "support/test_support.h"
#include "task.h"
#include "util/text.h"

namespace restorix {
namespace {

using Bytes8 = std::vector<std::uint8_t>;

using test::Carved;
using test::CarvedItems;
using test::CheckAll;
using test::CorpusFile;
using test::Expected;
using test::LayOut;
using test::Layout;

std::vector<CorpusFile> Corpus() {
  return test::ReadCorpus(test::SourceFixture("carving"));
}

std::uint64_t StoredSize(const std::vector<SignatureRecord>& table, std::string_view extension) {
  for (const auto& r : table) {
    if (r.ext() == extension) return r.detectedSize;
  }
  return 0;
}

// What the search makes of a file of the committed corpus.
Expected Expect(const CorpusFile& f, const std::vector<SignatureRecord>& table) {
  const std::uint64_t size = f.bytes.size();
  static const std::map<std::string, std::string> exact = {
      {"jpeg", "jpg"},     {"jpeg-exif", "jpg"}, {"png", "png"},       {"gif87a", "gif"},
      {"gif89a", "gif"},   {"bmp", "bmp"},       {"tiff-le", "tif"},   {"tiff-be", "tif"},
      {"cr2", "cr2"},      {"nef", "nef"},       {"wave", "wav"},      {"mp3", "mp3"},
      {"mp3-bare", "mp3"}, {"mp3-22k", "mp3"},   {"mp3-crc", "mp3"},   {"mpeg-ps", "mpg"},
      {"mpeg1-ps", "mpg"}, {"mov", "mov"},       {"mp4", "mp4"},       {"m4a", "m4a"},
      {"3gp", "3gp"},      {"mp3-riff", "wav"},  {"pdf", "pdf"},       {"zip", "zip"},
      {"7z", "7z"},        {"gz", "gz"},         {"sqlite", "sqlite"}, {"flac", "flac"},
      {"ogg", "ogg"}};
  if (const auto e = exact.find(f.kind); e != exact.end())
    return {e->second, size, "its own length"};
  if (f.kind == "jpeg-progressive") return {std::nullopt, 0, "only baseline JPEGs are confirmed"};
  if (f.kind == "midi") return {"mid", size + 2, "the MIDI rule adds 2 bytes"};
  if (f.kind == "doc" || f.kind == "xls" || f.kind == "ppt") {
    const std::uint64_t bound = (std::uint64_t{le32(f.bytes, 44)} * 128 + 1) * 512;
    // Only the first directory sector (four entries) names the kind; a Word
    // or Excel stream listed after it leaves the document filed as ppt.
    const std::uint64_t directory = (std::uint64_t{le32(f.bytes, 48)} + 1) * 512;
    std::string extension = "ppt";
    for (int entry = 0; entry < 4; ++entry) {
      const Bytes name = Slice(f.bytes, directory + 128 * entry, 8);
      if (std::equal(name.begin(), name.end(), std::begin(u8"W\0o\0r\0d\0"))) extension = "doc";
      if (std::equal(name.begin(), name.end(), std::begin(u8"W\0o\0r\0k\0"))) extension = "xls";
      if (extension != "ppt") break;
    }
    return {extension, bound, "a compound document is carved to its allocation tables' reach"};
  }
  const std::string extension = f.kind;
  return {extension, StoredSize(table, extension),
          "the signature alone confirms it; the table's size, up to the next file", true};
}

// Runs the search over the volume and checks each planted file against
// what Expect says of it.
int CheckCarving(const Volume& volume,
                 const std::vector<std::pair<const CorpusFile*, std::uint64_t>>& placed,
                 ScanMode mode, const std::string& label, ItemTree& tree) {
  const auto table = test::TypeTable();
  return test::CheckCarving(volume, placed, mode, label, tree,
                            [&](const CorpusFile& f) { return Expect(f, table); });
}

TEST(CarvingCorpusTest, EveryFileIsFoundAtItsSectorWithItsSizeAndBytes) {
  const auto files = Corpus();
  ASSERT_GE(files.size(), 30u);
  for (const std::uint32_t sectorBytes : {512u, 4096u}) {
    const Layout layout = LayOut(files, sectorBytes);
    const auto volume =
        Volume::Open(SourceKind::PhysicalDisk,
                     std::make_shared<test::FakeSource>(layout.image, sectorBytes), u"corpus")
            .volume;
    ASSERT_TRUE(volume);
    const std::string label = std::to_string(sectorBytes) + "-byte sectors";
    ItemTree tree;
    EXPECT_GE(CheckCarving(*volume, layout.placed, ScanMode::Advanced, label, tree), 30) << label;

    test::CheckNothingFromFiller(tree, layout, sectorBytes, label);
  }
}

// Where a file lies on a volume: the first sector boundary whose bytes
// begin with the file's first 512 bytes.
std::optional<std::uint64_t> FindOnVolume(const Bytes8& volume, const Bytes8& file) {
  const std::size_t probe = std::min<std::size_t>(512, file.size());
  for (std::size_t at = 0; at + probe <= volume.size(); at += 512) {
    if (std::equal(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(probe),
                   volume.begin() + static_cast<std::ptrdiff_t>(at))) {
      return at / 512;
    }
  }
  return std::nullopt;
}

// Format recovery: the file-system scan, then the search over the volume,
// which finds live and deleted files alike; a deleted file that the scan
// lists by name is not carved again.
void CheckVolume(const std::filesystem::path& image, const std::string& label) {
  const auto files = Corpus();
  const Bytes8 volume = test::ReadFile(image);
  std::vector<std::pair<const CorpusFile*, std::uint64_t>> placed;
  for (const auto& f : files) {
    const auto sector = FindOnVolume(volume, f.bytes);
    ASSERT_TRUE(sector.has_value()) << label << " " << f.name << " is not on the volume";
    placed.push_back({&f, *sector});
  }
  const auto opened = Volume::Open(SourceKind::LogicalDrive, image).volume;
  ASSERT_TRUE(opened);
  ItemTree tree;
  EXPECT_GE(CheckCarving(*opened, placed, ScanMode::Format, label, tree), 30);
}

TEST(CarvingCorpusTest, FormatRecoveryOnNtfs) {
  CheckVolume(test::Fixture("ntfs-carving.img"), "ntfs");
}

TEST(CarvingCorpusTest, FormatRecoveryOnFat32) {
  test::TempDir dir;
  const auto image = dir / "fat32.img";
  test::MakeSparseFile(image, 300 << 20);  // enough 4 KiB clusters for FAT32
  test::RunOk("mkfs.fat -F 32 -s 8 " + test::Quote(image.string()) + " >/dev/null");
  std::string copy = "MTOOLS_SKIP_CHECK=1 mmd -i " + test::Quote(image.string()) +
                     " ::corpus && MTOOLS_SKIP_CHECK=1 mcopy -i " + test::Quote(image.string());
  const auto files = Corpus();
  for (const auto& f : files)
    copy += " " + test::Quote(test::SourceFixture("carving/" + f.name).string());
  test::RunOk(copy + " ::corpus/");
  // Half of them deleted: carving does not care.
  std::string remove = "MTOOLS_SKIP_CHECK=1 mdel -i " + test::Quote(image.string());
  for (std::size_t i = 0; i < files.size(); i += 2)
    remove += " ::corpus/" + files[i].name;
  test::RunOk(remove);
  CheckVolume(image, "fat32");
}

}  // namespace
}  // namespace restorix
