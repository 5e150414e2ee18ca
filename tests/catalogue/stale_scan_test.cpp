// A scan used after its volume changed, or against another volume: a saved
// scan reopens only the volume it was made of, and no item whose place the
// volume has since given to something else is written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <map>

#include "catalogue/recovery_writer.h"
#include "catalogue/scan_info.h"
#include "disk/volume.h"
#include "signature/signature_file.h"
#include "support/fake_source.h"
#include "support/ntfs_volume.h"
#include "support/test_support.h"
#include "task.h"
#include "util/text.h"

namespace restorix {
namespace {

namespace fs = std::filesystem;
using test::Quote;
using Bytes8 = std::vector<std::uint8_t>;
using Files = std::map<std::string, Bytes8>;  // path in the run folder, bytes

Bytes8 Pattern(std::size_t size, std::uint8_t seed) {
  Bytes8 bytes(size);
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<std::uint8_t>(seed * 31 + i * 7 + i / 251);
  return bytes;
}

struct Saved {
  Files written;
  std::vector<std::string> changed;
};

// Checks every item and saves them all into a fresh folder.
Saved SaveAll(const Volume& volume, ItemTree& tree) {
  WalkTree(tree.root(), [](ItemNode& n, int) { n.checked = 1; });
  test::TempDir out;
  SaveResult result;
  TaskEvents events;
  SaveCheckedItems(volume, tree, {out.path(), nullptr}, {StopToken{}, events}, result);
  EXPECT_TRUE(result.completed());
  Saved saved{{}, result.changed};
  for (const auto& e : fs::recursive_directory_iterator(out / "#"))
    if (e.is_regular_file())
      saved.written[fs::relative(e.path(), out / "#").string()] = test::ReadFile(e.path());
  std::sort(saved.changed.begin(), saved.changed.end());
  return saved;
}

// What a FAT16 volume made by mkfs.fat (with serial number `serial`) holds
// once mtools has written and deleted three files.
const Files kFatFiles = {{"First file.txt", Pattern(5000, 1)},
                         {"Second file.txt", Pattern(3000, 2)},
                         {"Third file.txt", Pattern(700, 3)}};

void MakeFatVolume(const fs::path& image, const std::string& serial, const test::TempDir& dir) {
  test::MakeSparseFile(image, 16 << 20);
  test::RunOk("mkfs.fat -F 16 -i " + serial + " " + Quote(image.string()) + " >/dev/null");
  std::string remove = "MTOOLS_SKIP_CHECK=1 mdel -i " + Quote(image.string());
  for (const auto& [name, bytes] : kFatFiles) {
    test::WriteFile(dir / name, bytes);
    test::RunOk("MTOOLS_SKIP_CHECK=1 mcopy -i " + Quote(image.string()) + " " +
                Quote((dir / name).string()) + " " + Quote("::/" + name));
    remove += " " + Quote("::/" + name);
  }
  test::RunOk(remove);
}

bool HaveFatTools() {
  for (const char* tool : {"mkfs.fat", "mcopy", "mdel"})
    if (!test::HaveTool(tool)) return false;
  return true;
}

// A saved scan reopens the volume it was made of, found by its geometry and
// serial number; another volume is refused, even one of the same geometry.
TEST(StaleScanTest, ASavedScanReopensOnlyItsOwnVolume) {
  if (!HaveFatTools()) GTEST_SKIP() << "mkfs.fat or mtools is not installed";
  test::TempDir dir;
  MakeFatVolume(dir / "a.img", "11111111", dir);
  MakeFatVolume(dir / "b.img", "22222222", dir);
  test::MakeSparseFile(dir / "big.img", 32 << 20);
  test::RunOk("mkfs.fat -F 16 -i 11111111 " + Quote((dir / "big.img").string()) + " >/dev/null");
  const auto volume = Volume::Open(SourceKind::LogicalDrive, dir / "a.img").volume;
  ASSERT_TRUE(volume);
  EXPECT_EQ(volume->context().volumeSerial(), 0x11111111u);
  test::ScanRun scan = test::ScanVolume(*volume);
  const fs::path qns = dir / "a.qns";
  ASSERT_TRUE(SaveScanInfo(qns, volume->sourceName(), volume->context(), scan.tree));

  // The same file with the serial number 0 where the context keeps it: a
  // volume without one, or a file saved before serial numbers were kept.
  Bytes8 unserialised = test::ReadFile(qns);
  const std::size_t context = 8 + 2 + 2 * volume->sourceName().size();
  StoreLE<std::uint64_t>(unserialised, context + 0x18, 0);
  test::WriteFile(dir / "unserialised.qns", unserialised);

  const std::tuple<const char*, fs::path, fs::path, OpenFailure> cases[] = {
      {"its own volume", qns, {}, OpenFailure::None},
      {"another serial number", qns, dir / "b.img", OpenFailure::OtherVolume},
      {"another size", qns, dir / "big.img", OpenFailure::OtherVolume},
      {"not a volume", qns, dir / "a.qns", OpenFailure::NotRecognised},
      {"no serial number kept", dir / "unserialised.qns", dir / "b.img", OpenFailure::None},
  };
  for (const auto& [what, file, source, failure] : cases) {
    const LoadResult loaded = LoadScanInfo(file, source);
    ASSERT_TRUE(loaded.loaded) << what;
    EXPECT_EQ(loaded.reopened.failure, failure) << what;
    EXPECT_EQ(static_cast<bool>(loaded.reopened), failure == OpenFailure::None) << what;
  }
}

// New files written after the scan take the deleted files' entries and
// clusters; the scan, in memory or saved, writes only what is still there.
TEST(StaleScanTest, FatFilesWhoseEntriesWereReusedAreNotWritten) {
  if (!HaveFatTools()) GTEST_SKIP() << "mkfs.fat or mtools is not installed";
  test::TempDir dir;
  const fs::path image = dir / "fat.img";
  MakeFatVolume(image, "11111111", dir);
  const auto volume = Volume::Open(SourceKind::LogicalDrive, image).volume;
  ASSERT_TRUE(volume);
  test::ScanRun scan = test::ScanVolume(*volume);
  EXPECT_EQ(SaveAll(*volume, scan.tree).written, kFatFiles);
  ASSERT_TRUE(SaveScanInfo(dir / "fat.qns", volume->sourceName(), volume->context(), scan.tree));

  // mtools takes the first free entries and clusters. The new file's two
  // entries are the first two of "First file.txt", whose short entry stays,
  // and its clusters that file's first two. A name of six entries takes the
  // short entry of "Second file.txt" as well, but none of its clusters.
  const std::vector<std::string> firstChanged = {"First file.txt"},
                                 bothChanged = {"First file.txt", "Second file.txt"};
  for (const auto& [name, changed] :
       {std::pair{"new.bin", firstChanged},
        std::pair{"A new file whose name is long enough to take six entries.bin", bothChanged}}) {
    SCOPED_TRACE(name);
    MakeFatVolume(image, "11111111", dir);
    test::WriteFile(dir / "new", Pattern(4000, 9));
    test::RunOk("MTOOLS_SKIP_CHECK=1 mcopy -i " + Quote(image.string()) + " " +
                Quote((dir / "new").string()) + " " + Quote(std::string("::/") + name));
    Files rest = kFatFiles;
    for (const std::string& gone : changed)
      rest.erase(gone);
    const Saved inMemory = SaveAll(*volume, scan.tree);
    EXPECT_EQ(inMemory.written, rest);
    EXPECT_EQ(inMemory.changed, changed);
    LoadResult loaded = LoadScanInfo(dir / "fat.qns");
    ASSERT_TRUE(loaded.reopened);
    const Saved fromFile = SaveAll(*loaded.volume, loaded.tree);
    EXPECT_EQ(fromFile.written, rest);
    EXPECT_EQ(fromFile.changed, changed);
  }
}

// Whatever record ntfs-3g hands the new files, no file written holds
// anything but its own bytes, and the reused ones are named.
TEST(StaleScanTest, NtfsFilesWhoseRecordsWereReusedAreNotWritten) {
  if (::geteuid() != 0 || !fs::exists("/dev/fuse")) GTEST_SKIP() << "mounting needs root and FUSE";
  for (const char* tool : {"mkntfs", "ntfs-3g"})
    if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
  test::TempDir dir;
  const fs::path image = dir / "ntfs.img", mnt = dir / "mnt";
  fs::create_directory(mnt);
  test::MakeSparseFile(image, 16 << 20);
  test::RunOk("mkntfs -FqQ " + Quote(image.string()) + " >/dev/null 2>&1");
  // ntfs-3g stays behind as a daemon: it must not hold the output pipe.
  const std::string mount = "ntfs-3g " + Quote(image.string()) + " " + Quote(mnt.string()) +
                            " </dev/null >/dev/null 2>&1";
  const std::string unmount = "umount " + Quote(mnt.string());
  const Files files = {{"a.bin", Pattern(20000, 1)},
                       {"b.bin", Pattern(30000, 2)},
                       {"c.txt", Pattern(300, 3)},
                       {"d.bin", Pattern(9000, 4)}};
  test::RunOk(mount);
  for (const auto& [name, bytes] : files)
    test::WriteFile(mnt / name, bytes);
  test::RunOk("rm " + Quote((mnt / "a.bin").string()) + " " + Quote((mnt / "b.bin").string()) +
              " " + Quote((mnt / "c.txt").string()) + " " + Quote((mnt / "d.bin").string()) +
              " && " + unmount);

  const auto volume = Volume::Open(SourceKind::LogicalDrive, image).volume;
  ASSERT_TRUE(volume);
  test::ScanRun scan = test::ScanVolume(*volume);
  EXPECT_EQ(SaveAll(*volume, scan.tree).written, files);
  ASSERT_TRUE(SaveScanInfo(dir / "ntfs.qns", volume->sourceName(), volume->context(), scan.tree));

  test::RunOk(mount);
  for (int i = 0; i < 3; ++i)
    test::WriteFile(mnt / ("new" + std::to_string(i)), Pattern(12000, 50 + i));
  test::RunOk(unmount);

  LoadResult loaded = LoadScanInfo(dir / "ntfs.qns");
  ASSERT_TRUE(loaded.reopened);
  for (const auto& [how, saved] : {std::pair{"in memory", SaveAll(*volume, scan.tree)},
                                   std::pair{"saved", SaveAll(*loaded.volume, loaded.tree)}}) {
    SCOPED_TRACE(how);
    EXPECT_FALSE(saved.changed.empty());
    EXPECT_EQ(saved.written.size() + saved.changed.size(), files.size());
    for (const auto& [name, bytes] : saved.written)
      EXPECT_TRUE(files.contains(name) && files.at(name) == bytes) << name;
  }
}

// What the scan saw of an NTFS record, and what a saved scan can still
// check without the sequence number, which the file does not keep.
TEST(StaleScanTest, NtfsRecordChanges) {
  const auto changed = [](const std::function<void(Bytes8&, const test::MemoryNtfsVolume&)>& edit,
                          bool reload) {
    test::MemoryNtfsVolume v;
    v.Cluster(300, Pattern(8192, 5));
    auto file = test::FileRecord(0, 5, u"file.bin");
    file.NonResident(0x80, 0, 1, test::EncodeRunList({{2, 300}}), 8000, 3);
    v.Record(20, file.Build());
    test::TempDir dir;
    const fs::path image = dir / "ntfs.img";
    test::WriteFile(image, v.Source()->bytes());
    const auto volume = Volume::Open(SourceKind::LogicalDrive, image).volume;
    test::ScanRun scan = test::ScanVolume(*volume);
    SaveScanInfo(dir / "scan.qns", volume->sourceName(), volume->context(), scan.tree);
    Bytes8 bytes = test::ReadFile(image);
    edit(bytes, v);
    test::WriteFile(image, bytes);
    LoadResult loaded = LoadScanInfo(dir / "scan.qns");
    const Saved saved = reload ? SaveAll(*loaded.volume, loaded.tree) : SaveAll(*volume, scan.tree);
    EXPECT_EQ(saved.written.size() + saved.changed.size(), 1u);
    return !saved.changed.empty();
  };
  const auto record = [](Bytes8& bytes, const test::MemoryNtfsVolume& v) {
    return bytes.begin() + static_cast<std::ptrdiff_t>(v.RecordSector(20) * 512);
  };
  const auto rewrite = [&](test::MftRecordBuilder builder) {
    return [&, builder](Bytes8& bytes, const test::MemoryNtfsVolume& v) {
      const Bytes8 built = builder.Build();
      std::copy(built.begin(), built.end(), record(bytes, v));
    };
  };
  auto inUse = test::FileRecord(1, 5, u"file.bin");
  inUse.NonResident(0x80, 0, 1, test::EncodeRunList({{2, 300}}), 8000, 3);
  auto moved = test::FileRecord(0, 30, u"file.bin");
  moved.NonResident(0x80, 0, 1, test::EncodeRunList({{2, 300}}), 8000, 3);
  auto otherDay = test::FileRecord(0, 5, u"file.bin", 0x01D9000000000000ull);
  otherDay.NonResident(0x80, 0, 1, test::EncodeRunList({{2, 300}}), 8000, 3);
  auto resident = test::FileRecord(0, 5, u"file.bin");
  resident.Resident(0x80, Pattern(100, 1), 3);
  using Edit = std::function<void(Bytes8&, const test::MemoryNtfsVolume&)>;
  const std::tuple<const char*, Edit, bool, bool> cases[] = {
      // what, edit, changed in memory, changed when loaded from the file
      {"untouched", [](Bytes8&, const test::MemoryNtfsVolume&) {}, false, false},
      {"freed again with another sequence number",
       [&](Bytes8& b, const test::MemoryNtfsVolume& v) { record(b, v)[0x10] ^= 1; }, true, false},
      {"in use again", rewrite(inUse), true, true},
      {"in another folder", rewrite(moved), true, true},
      {"made another day", rewrite(otherDay), true, true},
      {"its data no longer what the scan found", rewrite(resident), true, true},
      {"no longer a record",
       [&](Bytes8& b, const test::MemoryNtfsVolume& v) { record(b, v)[0] = 'X'; }, true, true},
  };
  for (const auto& [what, edit, inMemory, loaded] : cases) {
    EXPECT_EQ(changed(edit, false), inMemory) << what << " (in memory)";
    EXPECT_EQ(changed(edit, true), loaded) << what << " (saved)";
  }
}

// A carved item is written only while its first sector still starts with a
// signature of its type.
TEST(StaleScanTest, CarvedFilesWhoseSignatureIsGoneAreNotWritten) {
  Bytes8 disk(128 * 512, 0);
  const Bytes8 bz2 = {'B', 'Z', 'h', '9', '1', 'A', 'Y', '&', 'S', 'Y'}, ps = {'%', '!', 'P', 'S'};
  std::copy(bz2.begin(), bz2.end(), disk.begin() + 10 * 512);
  std::copy(ps.begin(), ps.end(), disk.begin() + 40 * 512);
  auto source = std::make_shared<test::FakeSource>(disk);
  const auto volume = Volume::Open(SourceKind::PhysicalDisk, source, u"disk").volume;
  ASSERT_TRUE(volume);
  test::ScanRun scan = test::ScanVolume(*volume, ScanMode::Advanced, [] {
    std::vector<SignatureRecord> chosen;
    std::ifstream tsv(test::SourceFixture("../../data/signatures.tsv"));
    for (const SignatureRecord& r : ParseSignatureTable(tsv))
      if (r.ext() == "bz2" || r.ext() == "ps") chosen.push_back(r);
    return chosen;
  }());
  std::fill_n(source->bytes().begin() + 10 * 512, 512, 0x5A);  // the archive's first sector reused
  const Saved saved = SaveAll(*volume, scan.tree);
  EXPECT_EQ(saved.changed, std::vector<std::string>{"Raw Data/Archives/bz2/10.bz2"});
  ASSERT_EQ(saved.written.size(), 1u);
  EXPECT_EQ(saved.written.begin()->first, "Raw Data/Documents/ps/40.ps");
}

}  // namespace
}  // namespace restorix
