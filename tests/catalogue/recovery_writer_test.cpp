// Writing checked items out: run folders, collisions, unchecked folders,
// hostile names, names too long for the destination, carved items, and the
// ways a save ends early.
#include "catalogue/recovery_writer.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include "catalogue/recovery_names.h"
#include "engine.h"
#include "support/fake_source.h"
#include "support/test_support.h"

namespace restorix {
namespace {

using test::TempDir;

// A tree of carved items over a raw source in memory: every file is `size`
// bytes from sector `start`, so the writer needs no file system.
class CarvedTree {
 public:
  explicit CarvedTree(std::size_t sectors = 4096, std::uint32_t sectorSize = 512) {
    std::vector<std::uint8_t> bytes(sectors * sectorSize);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 13 + i / 509);
    auto source = std::make_unique<test::FakeSource>(bytes, sectorSize);
    source_ = source.get();
    engine.OpenSource(SOURCE_PHYSICAL_DISK, std::move(source), u"raw");
    engine.treeRoot = MakeRootNode(5);
    engine.treeRoot->checked = 1;
    engine.keepRunning = 1;
  }
  ItemNode* Folder(ItemNode* parent, const std::u16string& name, bool checked = true) {
    return Add(parent, name, ITEM_FOLDER, 0, 0, checked);
  }
  ItemNode* File(ItemNode* parent, const std::u16string& name, std::uint64_t start,
                 std::uint64_t size, bool checked = true) {
    return Add(parent, name, 0, start, size, checked);
  }
  ItemNode* root() { return engine.treeRoot; }
  test::FakeSource& source() { return *source_; }
  std::vector<std::uint8_t> Bytes(std::uint64_t start, std::uint64_t size) const {
    const auto& all = source_->bytes();
    const auto from = all.begin() + static_cast<std::ptrdiff_t>(start * source_->sectorSize());
    return {from, from + static_cast<std::ptrdiff_t>(size)};
  }

  Engine engine;

 private:
  ItemNode* Add(ItemNode* parent, const std::u16string& name, std::uint8_t flags,
                std::uint64_t start, std::uint64_t size, bool checked) {
    auto* node = new ItemNode;
    node->name = name;
    node->flags = flags;
    node->size = size;
    node->checked = checked;
    node->origin = ORIGIN_CARVED_RAW;
    if (size) node->extents.push_back({start, 0});
    node->parent = parent;
    // Appended, so the tree reads in the order it was built.
    ItemNode** link = &parent->firstChild;
    while (*link) link = &(*link)->next;
    *link = node;
    return node;
  }
  test::FakeSource* source_;
};

std::vector<std::string> Listing(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
    names.push_back(std::filesystem::relative(e.path(), dir).string() + (e.is_directory() ? "/" : ""));
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(RecoveryWriterTest, RunFoldersCollisionsAndUncheckedFolders) {
  TempDir dest;
  std::filesystem::create_directory(dest / "#");
  std::filesystem::create_directory(dest / "#0");
  CarvedTree tree;
  ItemNode* docs = tree.Folder(tree.root(), u"Docs");
  tree.File(docs, u"a.txt", 10, 100);
  tree.File(docs, u"a.txt", 20, 200);
  tree.File(docs, u"skipped.txt", 30, 10, false);
  ItemNode* hidden = tree.Folder(tree.root(), u"Unchecked", false);
  tree.File(hidden, u"inside.txt", 40, 10);  // checked, but its folder is not
  tree.File(tree.root(), u"top.bin", 50, 3000);

  const SaveResult result = SaveCheckedItems(tree.engine, {dest.path(), nullptr, nullptr});
  EXPECT_NE(result.status, 0u);
  EXPECT_EQ(result.runFolder, dest / "#1");
  EXPECT_EQ(Listing(dest / "#1"),
            (std::vector<std::string>{"Docs/", "Docs/#0a.txt", "Docs/a.txt", "top.bin"}));
  EXPECT_EQ(test::ReadFile(dest / "#1/Docs/a.txt"), tree.Bytes(10, 100));
  EXPECT_EQ(test::ReadFile(dest / "#1/Docs/#0a.txt"), tree.Bytes(20, 200));
  EXPECT_EQ(test::ReadFile(dest / "#1/top.bin"), tree.Bytes(50, 3000));
  EXPECT_EQ(result.files, 3u);
  EXPECT_EQ(result.folders, 1u);
  EXPECT_EQ(result.bytes, 3300u);
}

struct Progress : TaskEvents {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> reports;
  void ScanProgress(std::uint64_t done, std::uint64_t total) override { reports.push_back({done, total}); }
};

TEST(RecoveryWriterTest, ProgressCountsEveryItemCreatedOutOfTheCheckedOnes) {
  TempDir dest;
  CarvedTree tree;
  ItemNode* folder = tree.Folder(tree.root(), u"F");
  tree.File(folder, u"1", 1, 1);
  tree.File(folder, u"2", 2, 1);
  Progress progress;
  tree.engine.SetEvents(&progress);
  SaveCheckedItems(tree.engine, {dest.path(), nullptr, nullptr});
  EXPECT_EQ(progress.reports,
            (std::vector<std::pair<std::uint64_t, std::uint64_t>>{{1, 3}, {2, 3}, {3, 3}}));
}

// Names come from the disk: none of them may lead outside the run folder.
TEST(RecoveryWriterTest, HostileNamesStayInsideTheRunFolder) {
  TempDir dest;
  CarvedTree tree;
  const std::u16string hostile[] = {u"..", u".", u"../../escaped", u"/etc/passwd", u"a/b",
                                    std::u16string(u"nul\0byte", 8), u"", u"\xD800lone"};
  ItemNode* folder = tree.Folder(tree.root(), u"..");
  for (const auto& name : hostile) tree.File(folder, name, 5, 8);
  ItemNode* deeper = tree.Folder(folder, u"../..");
  tree.File(deeper, u"..", 6, 8);
  const SaveResult result = SaveCheckedItems(tree.engine, {dest.path(), nullptr, nullptr});
  ASSERT_NE(result.status, 0u);
  EXPECT_EQ(result.files, 9u);
  const auto inside = Listing(dest.path());
  for (const auto& name : inside) EXPECT_EQ(name.rfind("#", 0), 0u) << name;
  EXPECT_EQ(Listing(dest / "#"),
            (std::vector<std::string>{"_../", "_../.._../", "_../.._../_..", "_../.._.._escaped",
                                      "_../_", "_../_.", "_../_..", "_../_etc_passwd", "_../a_b",
                                      "_../nul_byte", "_../\xEF\xBF\xBDlone"}));
  // Every path written resolves inside the run folder.
  const auto run = std::filesystem::canonical(dest / "#");
  for (const auto& e : std::filesystem::recursive_directory_iterator(dest / "#")) {
    const auto real = std::filesystem::canonical(e.path());
    EXPECT_EQ(real.string().rfind(run.string(), 0), 0u) << real;
    EXPECT_FALSE(e.is_symlink());
  }
  EXPECT_FALSE(std::filesystem::exists(dest.path().parent_path() / "escaped"));
}

TEST(RecoveryWriterTest, NamesTooLongForTheDestinationGoToOrphanFilesRenamed) {
  TempDir dest;
  CarvedTree tree;
  ItemNode* folder = tree.Folder(tree.root(), u"Deep");
  const std::u16string longName = std::u16string(200, u'\u00E9') + u".jpeg";  // 405 bytes of UTF-8
  tree.File(folder, longName, 7, 64);
  tree.File(folder, longName, 8, 64);
  std::vector<std::u16string> asked;
  SaveOptions options{dest.path(), nullptr, nullptr};
  options.rename = [&](const std::u16string& old, const std::filesystem::path& where) {
    asked.push_back(old);
    EXPECT_EQ(where, dest / kOrphanFolder);
    return asked.size() == 1 ? std::optional<std::u16string>(u"holiday.jpeg") : std::nullopt;
  };
  const SaveResult result = SaveCheckedItems(tree.engine, options);
  ASSERT_NE(result.status, 0u);
  EXPECT_EQ(asked.size(), 2u);
  const auto orphans = Listing(dest / kOrphanFolder);
  ASSERT_EQ(orphans.size(), 2u);
  EXPECT_EQ(orphans[0], "#0holiday.jpeg");
  // Without a new name the name is shortened, keeping its extension.
  EXPECT_EQ(orphans[1].rfind("#0\xC3\xA9", 0), 0u);
  EXPECT_EQ(orphans[1].substr(orphans[1].size() - 5), ".jpeg");
  EXPECT_LE(orphans[1].size(), kMaxNameBytes);
  EXPECT_EQ(test::ReadFile(dest / kOrphanFolder / "#0holiday.jpeg"), tree.Bytes(7, 64));
  EXPECT_EQ(result.orphans.size(), 2u);
  EXPECT_EQ(result.renamed.size(), 2u);
}

TEST(RecoveryWriterTest, CarvedItemsAreReadInMegabyteBlocksOfTheSourcesOwnSectors) {
  for (const std::uint32_t sectorSize : {512u, 4096u}) {
    TempDir dest;
    CarvedTree tree(16384 * 512 / sectorSize, sectorSize);
    tree.File(tree.root(), u"big.bin", 10, 3000000);
    const std::size_t before = tree.source().readLog().size();
    ASSERT_NE(SaveCheckedItems(tree.engine, {dest.path(), nullptr, nullptr}).status, 0u);
    const auto reads = std::vector<std::pair<std::uint64_t, std::size_t>>(
        tree.source().readLog().begin() + static_cast<std::ptrdiff_t>(before), tree.source().readLog().end());
    const std::uint64_t first = 10ull * sectorSize;
    const std::size_t tail = (3000000 - 2 * 1048576 + sectorSize - 1) / sectorSize * sectorSize;
    EXPECT_EQ(reads, (std::vector<std::pair<std::uint64_t, std::size_t>>{
                         {first, 1048576}, {first + 1048576, 1048576}, {first + 2097152, tail}}))
        << sectorSize;
    EXPECT_EQ(test::ReadFile(dest / "#/big.bin"), tree.Bytes(10, 3000000)) << sectorSize;
  }
}

TEST(RecoveryWriterTest, AFullDiskOrALostSourceEndsTheSaveAsAbortedKeepingWhatWasWritten) {
  {
    TempDir dest;
    CarvedTree tree;
    tree.File(tree.root(), u"first.bin", 1, 4000);
    tree.File(tree.root(), u"second.bin", 100, 200000);
    tree.File(tree.root(), u"third.bin", 1000, 10);
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit limited = old;
    limited.rlim_cur = 100000;  // the second file cannot be written whole
    ::setrlimit(RLIMIT_FSIZE, &limited);
    const SaveResult result = SaveCheckedItems(tree.engine, {dest.path(), nullptr, nullptr});
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(result.status, 0u);
    EXPECT_EQ(result.stop, SaveResult::Stop::WriteFailed);
    EXPECT_EQ(result.error, EFBIG);
    EXPECT_EQ(test::ReadFile(dest / "#/first.bin"), tree.Bytes(1, 4000));
    EXPECT_FALSE(std::filesystem::exists(dest / "#/third.bin"));
  }
  {
    TempDir dest;
    CarvedTree tree;
    tree.File(tree.root(), u"first.bin", 1, 4000);
    tree.File(tree.root(), u"second.bin", 100, 4000);
    tree.source().LoseAfter(tree.source().reads() + 1);
    const SaveResult result = SaveCheckedItems(tree.engine, {dest.path(), nullptr, nullptr});
    EXPECT_EQ(result.status, 0u);
    EXPECT_EQ(result.stop, SaveResult::Stop::SourceLost);
    EXPECT_EQ(test::ReadFile(dest / "#/first.bin"), tree.Bytes(1, 4000));
    EXPECT_EQ(tree.engine.keepRunning, 1u) << "the flag alone would have read as completed";
  }
}

// A real disk-full destination, where the machine lets us mount a small one.
TEST(RecoveryWriterTest, FullTmpfsDestination) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting needs root";
  TempDir dest;
  if (test::Run("mount -t tmpfs -o size=256k tmpfs " + test::Quote(dest.path().string())).exitCode != 0) {
    GTEST_SKIP() << "cannot mount tmpfs here";
  }
  CarvedTree tree;
  tree.File(tree.root(), u"fits.bin", 1, 100000);
  tree.File(tree.root(), u"too-big.bin", 300, 1000000);
  const SaveResult result = SaveCheckedItems(tree.engine, {dest.path(), nullptr, nullptr});
  const auto kept = test::ReadFile(dest / "#/fits.bin");
  test::Run("umount " + test::Quote(dest.path().string()));
  EXPECT_EQ(result.stop, SaveResult::Stop::WriteFailed);
  EXPECT_EQ(result.error, ENOSPC);
  EXPECT_EQ(kept, tree.Bytes(1, 100000));
}

TEST(RecoveryWriterTest, DestinationMustBeAFolder) {
  TempDir dest;
  test::WriteFile(dest / "file", {1});
  CarvedTree tree;
  EXPECT_EQ(SaveCheckedItems(tree.engine, {dest / "file", nullptr, nullptr}).stop,
            SaveResult::Stop::NoDestination);
  EXPECT_EQ(SaveCheckedItems(tree.engine, {dest / "missing", nullptr, nullptr}).stop,
            SaveResult::Stop::NoDestination);
}

TEST(RecoveryNamesTest, SafeNamesCollisionsAndShortening) {
  EXPECT_EQ(SafeFileName(u"report.doc"), "report.doc");
  EXPECT_EQ(SafeFileName(u"a/b"), "a_b");
  EXPECT_EQ(SafeFileName(u".."), "_..");
  EXPECT_EQ(SafeFileName(u"."), "_.");
  EXPECT_EQ(SafeFileName(u""), "_");
  EXPECT_EQ(SafeFileName(u"R\u00E9sum\u00E9"), "R\xC3\xA9sum\xC3\xA9");
  EXPECT_EQ(CollisionName("a.txt", 0), "a.txt");
  EXPECT_EQ(CollisionName("a.txt", 1), "#0a.txt");
  EXPECT_EQ(CollisionName("a.txt", 12), "#11a.txt");
  const std::string full(kMaxNameBytes - 4, 'n');
  const std::string collided = CollisionName(full + ".txt", 3);
  EXPECT_EQ(collided.size(), kMaxNameBytes);
  EXPECT_EQ(collided.substr(0, 2), "#2");
  EXPECT_EQ(collided.substr(collided.size() - 4), ".txt");
  // Never cut inside a character.
  const std::string accents = ShortenName(std::string(100, 'a') + "\xC3\xA9\xC3\xA9", 101);
  EXPECT_EQ(accents, std::string(100, 'a'));
}

TEST(RecoveryNamesTest, RenameDialogRules) {
  struct Case {
    std::u16string text;
    bool ok, keepOk, message, selectAll;
  };
  const Case cases[] = {
      {u"holiday", true, false, false, false},
      {u"", false, false, false, false},
      {u"name:", false, true, true, true},
      {u"name\"", false, true, true, true},
      {u"a\\", false, true, true, true},
      {u"two words", false, false, false, true},
      {u"two words?", false, false, true, true},
      {u"a:b", true, false, false, false},  // only a last character is refused
  };
  for (const Case& c : cases) {
    const RenameCheck check = CheckNewName(c.text);
    EXPECT_EQ(check.okEnabled, c.ok);
    EXPECT_EQ(check.keepOkAsItWas, c.keepOk);
    EXPECT_EQ(check.showSpecialCharacters, c.message);
    EXPECT_EQ(check.selectAll, c.selectAll);
  }
  EXPECT_EQ(RenamedName(u"very long name.jpeg", u"short"), u"short.jpeg");
  EXPECT_EQ(RenamedName(u"archive.tar.gz", u"a"), u"a.gz");
  EXPECT_EQ(RenamedName(u"README", u"read"), u"read");
  EXPECT_STREQ(kSpecialCharactersMessage,
               "A file extension cannot contain following special characters:\n\\/ : * ? \" < > |");
}

}  // namespace
}  // namespace restorix
