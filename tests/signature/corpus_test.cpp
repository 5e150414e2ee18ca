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
#include "signature/search.h"
#include "signature/signature_file.h"
#include "support/fake_source.h"
#include "support/test_support.h"
#include "task.h"
#include "util/text.h"

namespace restorix {
namespace {

using Bytes8 = std::vector<std::uint8_t>;

struct CorpusFile {
  std::string name, kind;
  Bytes8 bytes;
};

std::vector<CorpusFile> Corpus() {
  std::vector<CorpusFile> files;
  std::ifstream manifest(test::SourceFixture("carving/manifest.tsv"));
  std::string line;
  std::getline(manifest, line);
  while (std::getline(manifest, line)) {
    std::istringstream fields(line);
    CorpusFile f;
    std::string size, sha;
    std::getline(fields, f.name, '\t');
    std::getline(fields, size, '\t');
    std::getline(fields, sha, '\t');
    std::getline(fields, f.kind, '\t');
    f.bytes = test::ReadFile(test::SourceFixture("carving/" + f.name));
    EXPECT_EQ(f.bytes.size(), std::stoull(size)) << f.name;
    files.push_back(std::move(f));
  }
  return files;
}

std::vector<SignatureRecord> Table() {
  std::ifstream tsv(test::SourceFixture("../../data/signatures.tsv"));
  return ParseSignatureTable(tsv);
}

// What the search must make of one corpus file: the extension it is filed
// under and its size; nullopt when no type confirms it (a rule of the
// search, given in `why`).
struct Expected {
  std::optional<std::string> extension;
  std::uint64_t size = 0;
  bool exact = true;  // the whole file, no more, no less
  std::string why;
  bool guessed = false;  // a length the file does not give: cut at the next file found
};

std::uint64_t StoredSize(const std::vector<SignatureRecord>& table, std::string_view extension) {
  for (const auto& r : table) {
    if (r.ext() == extension) return r.detectedSize;
  }
  return 0;
}

Expected Expect(const CorpusFile& f, const std::vector<SignatureRecord>& table) {
  const std::uint64_t size = f.bytes.size();
  static const std::map<std::string, std::string> exact = {
      {"jpeg", "jpg"},     {"jpeg-exif", "jpg"}, {"png", "png"},     {"gif87a", "gif"},
      {"gif89a", "gif"},   {"bmp", "bmp"},       {"tiff-le", "tif"}, {"tiff-be", "tif"},
      {"cr2", "cr2"},      {"nef", "nef"},       {"wave", "wav"},    {"mp3", "mp3"},
      {"mp3-bare", "mp3"}, {"mp3-22k", "mp3"},   {"mp3-crc", "mp3"}, {"mpeg-ps", "mpg"},
      {"mpeg1-ps", "mpg"}, {"mov", "mov"},       {"mp4", "mp4"},     {"m4a", "m4a"},
      {"3gp", "3gp"},      {"mp3-riff", "wav"}};
  if (const auto e = exact.find(f.kind); e != exact.end())
    return {e->second, size, true, "its own length"};
  if (f.kind == "jpeg-progressive")
    return {std::nullopt, 0, true, "only baseline JPEGs are confirmed"};
  if (f.kind == "midi") return {"mid", size + 2, false, "the MIDI rule adds 2 bytes"};
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
    return {extension, bound, false,
            "a compound document is carved to its allocation tables' reach"};
  }
  const std::string extension = f.kind;
  return {extension, StoredSize(table, extension), false,
          "the signature alone confirms it; the table's size, up to the next file", true};
}

// A disk image: random and zero filler, each corpus file at a sector
// boundary (the rest of its last sector filler too).
struct Layout {
  Bytes8 image;
  std::vector<std::pair<const CorpusFile*, std::uint64_t>> placed;  // file, sector
};

Layout LayOut(const std::vector<CorpusFile>& files, std::uint32_t sectorBytes) {
  std::mt19937 random(20261206);
  Layout layout;
  std::uint64_t sector = 8;
  std::vector<std::uint64_t> starts;
  for (const auto& f : files) {
    starts.push_back(sector);
    sector += (f.bytes.size() + sectorBytes - 1) / sectorBytes + 1 + random() % 24;
  }
  // Room after the last file for the search to read on.
  layout.image.resize((sector + 64) * sectorBytes);
  for (std::size_t at = 0; at < layout.image.size(); at += 64 * 1024) {
    const bool zeros = (at / (64 * 1024)) % 3 == 1;
    for (std::size_t i = at; i < std::min(layout.image.size(), at + 64 * 1024); ++i) {
      layout.image[i] = zeros ? 0 : static_cast<std::uint8_t>(random());
    }
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::copy(files[i].bytes.begin(), files[i].bytes.end(),
              layout.image.begin() + static_cast<std::ptrdiff_t>(starts[i] * sectorBytes));
    layout.placed.push_back({&files[i], starts[i]});
  }
  return layout;
}

struct Carved {
  const ItemNode* item;
  std::string category, extension;
  std::uint64_t sector;
};

// Every carved file under "Raw Data", by start sector.
std::multimap<std::uint64_t, Carved> CarvedItems(const ItemTree& tree) {
  std::multimap<std::uint64_t, Carved> carved;
  const ItemNode* raw = nullptr;
  for (const ItemNode* c = tree.root()->firstChild; c; c = c->next) {
    if (c->name == kRawDataFolder) raw = c;
  }
  if (!raw) return carved;
  for (const ItemNode* category = raw->firstChild; category; category = category->next) {
    for (const ItemNode* kind = category->firstChild; kind; kind = kind->next) {
      for (const ItemNode* item = kind->firstChild; item; item = item->next) {
        const std::uint64_t start = std::get<restorix::Carved>(item->location).firstSector;
        carved.insert(
            {start, {item, Utf8FromUtf16(category->name), Utf8FromUtf16(kind->name), start}});
      }
    }
  }
  return carved;
}

void CheckAll(ItemNode* root) {
  root->checked = 1;
  WalkTree(root, [](const ItemNode& n, int) { const_cast<ItemNode&>(n).checked = 1; });
}

// Runs the search over the volume with every type selected and checks each
// planted file. Returns the number of files checked; the tree is left in
// `tree`.
int CheckCarving(const Volume& volume,
                 const std::vector<std::pair<const CorpusFile*, std::uint64_t>>& placed,
                 ScanMode mode, const std::string& label, ItemTree& tree) {
  const auto table = Table();
  test::ScanRun scan = test::ScanVolume(volume, mode, table, 1024);
  EXPECT_TRUE(scan.completed) << label;
  tree = std::move(scan.tree);
  const auto carved = CarvedItems(tree);
  const std::uint32_t sectorBytes = volume.context().bytesPerSector();
  const std::uint64_t total = volume.context().totalSectors();

  test::TempDir out;
  CheckAll(tree.root());
  SaveResult saved;
  TaskEvents events;
  SaveCheckedItems(volume, tree, {out.path(), nullptr, nullptr}, {StopToken{}, events}, saved);
  EXPECT_TRUE(saved.completed()) << label;

  int checked = 0;
  for (const auto& [file, sector] : placed) {
    const Expected want = Expect(*file, table);
    const auto [from, to] = carved.equal_range(sector);
    std::vector<const Carved*> here;
    for (auto it = from; it != to; ++it)
      here.push_back(&it->second);
    if (!want.extension) {
      EXPECT_TRUE(here.empty()) << label << " " << file->name << ": " << want.why;
      continue;
    }
    EXPECT_EQ(here.size(), 1u) << label << " " << file->name << " at sector " << sector;
    if (here.size() != 1) continue;
    const Carved& c = *here[0];
    EXPECT_EQ(c.extension, *want.extension) << label << " " << file->name;
    std::uint64_t size = std::min(want.size, (total - sector) * sectorBytes);
    for (const auto& [other, start] : placed)
      if (want.guessed && start > sector) size = std::min(size, (start - sector) * sectorBytes);
    EXPECT_EQ(c.item->size, size) << label << " " << file->name << " (" << want.why << ")";
    const auto path = out / ("#/Raw Data/" + c.category + "/" + c.extension + "/" +
                             std::to_string(sector) + "." + c.extension);
    const Bytes8 recovered = test::ReadFile(path);
    EXPECT_EQ(recovered.size(), size) << label << " " << file->name;
    const std::size_t common = std::min(recovered.size(), file->bytes.size());
    EXPECT_TRUE(std::equal(file->bytes.begin(),
                           file->bytes.begin() + static_cast<std::ptrdiff_t>(common),
                           recovered.begin()))
        << label << " " << file->name << ": recovered bytes differ";
    ++checked;
  }
  return checked;
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

    // Nothing is carved from the filler: every item starts where a planted
    // file starts, or inside one (a file within a file).
    int nested = 0;
    for (const auto& [start, c] : CarvedItems(tree)) {
      const auto owner =
          std::find_if(layout.placed.begin(), layout.placed.end(), [&](const auto& p) {
            const std::uint64_t sectors = (p.first->bytes.size() + sectorBytes - 1) / sectorBytes;
            return start >= p.second && start < p.second + sectors;
          });
      EXPECT_NE(owner, layout.placed.end())
          << label << ": " << c.extension << " carved from filler at " << start;
      if (owner != layout.placed.end() && owner->second != start) {
        ++nested;
        std::printf("[ carving ] %s: a %s inside %s\n", label.c_str(), c.extension.c_str(),
                    owner->first->name.c_str());
      }
    }
    std::printf("[ carving ] %s: %zu files planted, %d carved inside other files\n", label.c_str(),
                layout.placed.size(), nested);
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
// which finds live and deleted files alike.
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
