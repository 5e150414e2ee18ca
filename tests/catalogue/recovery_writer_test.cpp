// Writing checked items out: names, carved items, and saves that end early.
#include "catalogue/recovery_writer.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>

#include "catalogue/recovery_names.h"
#include "disk/volume.h"
#include "support/fake_source.h"
#include "support/test_support.h"
#include "tasks/tasks.h"
#include "util/fat_date.h"
#include "util/text.h"

namespace restorix {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using Strings = std::vector<std::string>;
using Pairs = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

// Carved items over a raw source in memory: each file is `size` bytes from
// sector `start`, so the writer needs no file system. Saves run as the save
// task runs them.
struct CarvedTree : TaskSink {
  explicit CarvedTree(std::size_t sectors = 4096, std::uint32_t sectorSize = 512)
      : source(
            std::make_shared<test::FakeSource>(test::Pattern(sectors, 0, sectorSize), sectorSize)) {
    volume = Volume::Open(SourceKind::PhysicalDisk, source, u"raw").volume;
    root = tree.NewRoot();
  }
  // Appended, so the tree reads in the order it was built; size 0 makes a folder.
  ItemNode* Add(ItemNode* parent, const std::u16string& name, std::uint64_t start = 0,
                std::uint64_t size = 0, bool checked = true) {
    ItemNode* node = tree.NewNode();
    node->name = name, node->size = size, node->checked = checked;
    node->flags = size ? ItemFlags::None : ItemFlags::Folder;
    node->origin = ItemOrigin::CarvedRaw;
    if (size) node->location = Carved{start};
    ItemNode* last = parent->firstChild;
    while (last && last->next)
      last = last->next;
    tree.AddChildAfter(parent, last, node);
    return node;
  }
  // Whether the file holds the bytes of `size` from sector `start`.
  bool Holds(const fs::path& file, std::uint64_t start, std::uint64_t size) const {
    const auto from = source->bytes().begin() + static_cast<long>(start * source->sectorSize());
    return test::ReadFile(file) == std::vector<std::uint8_t>(from, from + static_cast<long>(size));
  }
  SaveResult Save(const SaveOptions& options) {
    StopToken stop;
    return SaveTask(*volume, tree, options, stop, *this).save;
  }
  SaveResult Save(const fs::path& to) { return Save(SaveOptions{to, {}}); }
  void ScanProgress(std::uint64_t n, std::uint64_t of) override {
    reports.push_back({n, of});
    if (onProgress) onProgress(n);
  }

  std::shared_ptr<test::FakeSource> source;
  std::shared_ptr<const Volume> volume;
  ItemTree tree;
  ItemNode* root = nullptr;
  Pairs reports;
  std::function<void(std::uint64_t done)> onProgress;
};

Strings Listing(const fs::path& dir) {
  Strings names;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    names.push_back(fs::relative(e.path(), dir).string() + (e.is_directory() ? "/" : ""));
  std::sort(names.begin(), names.end());
  return names;
}

// Names come from the disk: none may lead outside the run folder, and one
// too long for the destination goes into "Orphan Files", renamed.
TEST(RecoveryWriterTest, RunFolderCollisionsUncheckedFoldersAndHostileOrLongNames) {
  TempDir dest;
  for (const char* taken : {"#", "#0"})
    fs::create_directory(dest / taken);
  test::WriteFile(dest / "file", {1});
  CarvedTree tree;
  EXPECT_EQ(tree.Save(dest / "file").stop, SaveResult::Stop::NoDestination);
  ItemNode* docs = tree.Add(tree.root, u"Docs");
  tree.Add(docs, u"a.txt", 10, 100);
  tree.Add(docs, u"a.txt", 20, 200);
  tree.Add(docs, u"skipped.txt", 30, 10, false);
  tree.Add(tree.Add(tree.root, u"Unchecked", 0, 0, false), u"inside.txt", 40, 10);
  ItemNode* up = tree.Add(tree.root, u"..");
  for (const auto& name : {u"..", u".", u"../../escaped", u"/etc/passwd", u"a/b", u"", u"\xD800"})
    tree.Add(up, name, 5, 8);
  tree.Add(up, std::u16string(u"nul\0byte", 8), 5, 8);
  tree.Add(tree.Add(up, u"../.."), u"..", 6, 8);
  const std::u16string longName = std::u16string(200, u'\u00E9') + u".jpeg";  // 405 UTF-8 bytes
  tree.Add(docs, longName, 7, 64);
  tree.Add(docs, longName, 8, 64);
  int asked = 0;
  SaveOptions options{dest.path(), {}};
  options.rename = [&](const std::u16string& old, const fs::path& where) {
    EXPECT_TRUE(old == longName && where == dest / kOrphanFolder);
    return ++asked == 1 ? std::optional<std::u16string>(u"holiday.jpeg") : std::nullopt;
  };
  const SaveResult result = tree.Save(options);
  EXPECT_TRUE(result.completed());
  ASSERT_EQ(result.runFolder, dest / "#1");
  EXPECT_EQ(Listing(dest / "#1"),
            (Strings{"Docs/", "Docs/#0a.txt", "Docs/a.txt", "_../", "_../.._../", "_../.._../_..",
                     "_../.._.._escaped", "_../_", "_../_.", "_../_..", "_../_etc_passwd",
                     "_../a_b", "_../nul_byte", "_../\xEF\xBF\xBD"}));
  EXPECT_TRUE(tree.Holds(dest / "#1/Docs/a.txt", 10, 100));
  EXPECT_TRUE(tree.Holds(dest / "#1/Docs/#0a.txt", 20, 200));
  EXPECT_TRUE(tree.Holds(dest / "#1/_../.._../_..", 6, 8));
  EXPECT_EQ(std::tie(result.files, result.folders, result.bytes), std::tuple(13u, 3u, 500u));
  // Out of every checked item, the one below the unchecked folder included.
  EXPECT_EQ(tree.reports.size(), 16u);
  EXPECT_EQ(tree.reports.back(), (std::pair<std::uint64_t, std::uint64_t>{16, 17}));

  EXPECT_EQ(asked, 2);
  const Strings orphans = Listing(dest / kOrphanFolder);
  ASSERT_EQ(orphans.size(), 2u);
  EXPECT_TRUE(tree.Holds(dest / kOrphanFolder / "#0holiday.jpeg", 7, 64));
  // Without a new name the name is shortened, keeping its extension.
  EXPECT_TRUE(orphans[1].starts_with("#0\xC3\xA9") && orphans[1].ends_with("\xA9.jpeg"));
  EXPECT_EQ(std::pair(result.orphans.size(), result.renamed.size()), std::pair(2ul, 2ul));
}

// The first save makes the destination folders that do not exist yet; the
// second save into the same destination makes run folder "#0".
TEST(RecoveryWriterTest, CarvedItemsAreReadInMegabyteBlocksOfTheSourcesOwnSectors) {
  TempDir temp;
  const fs::path dest = temp / "not" / "yet";
  for (const std::uint64_t sector : {512u, 4096u}) {
    CarvedTree tree(16384 * 512 / sector, static_cast<std::uint32_t>(sector));
    tree.Add(tree.root, u"big.bin", 10, 3000000);
    const std::size_t before = tree.source->readLog().size();
    ASSERT_TRUE(tree.Save(dest).completed());
    const auto& log = tree.source->readLog();
    const std::uint64_t at = 10 * sector, tail = (3000000 - 2097152 + sector - 1) / sector * sector;
    EXPECT_EQ(Pairs(log.begin() + static_cast<long>(before), log.end()),
              (Pairs{{at, 1048576}, {at + 1048576, 1048576}, {at + 2097152, tail}}));
    EXPECT_TRUE(tree.Holds(dest / (sector == 512 ? "#" : "#0") / "big.bin", 10, 3000000)) << sector;
  }
}

// A full destination (a file-size limit for the data, or a real tmpfs out
// of inodes when we may mount one, for a file that cannot be made), one
// that turns read-only after the first file, or a lost source ends the
// save, keeping what was written.
TEST(RecoveryWriterTest, AFullDiskOrALostSourceEndsTheSaveAsAborted) {
  ::signal(SIGXFSZ, SIG_IGN);
  enum { kLimit, kTmpfs, kReadOnly, kLost };
  using enum SaveResult::Stop;
  const std::pair<SaveResult::Stop, int> ends[] = {
      {WriteFailed, EFBIG}, {WriteFailed, ENOSPC}, {WriteFailed, EROFS}, {SourceLost, ENODEV}};
  for (const int how : {kLimit, kTmpfs, kReadOnly, kLost}) {
    TempDir dest;
    const std::string at = test::Quote(dest.path().string());
    if ((how == kTmpfs || how == kReadOnly) &&
        (::geteuid() || test::Run("mount -t tmpfs -o size=256k" +
                                  std::string(how == kTmpfs ? ",nr_inodes=3" : "") + " x " + at)
                            .exitCode)) {
      std::printf("skipped: mounting a small tmpfs needs root\n");
      continue;
    }
    CarvedTree tree;
    tree.Add(tree.root, u"first.bin", 1, 4000);
    // No file is open for writing while the folder is made, so the
    // destination can be made read-only then.
    ItemNode* folder = how == kReadOnly ? tree.Add(tree.root, u"Docs") : tree.root;
    tree.onProgress = [&](std::uint64_t done) {
      if (how == kReadOnly && done == 2) test::RunOk("mount -o remount,ro " + at);
    };
    tree.Add(folder, u"second.bin", 100, 300000);
    tree.Add(tree.root, u"third.bin", 1000, 10);
    if (how == kLost) tree.source->LoseAfter(tree.source->reads() + 1);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit limited{how == kLimit ? 100000 : old.rlim_cur, old.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &limited);
    const SaveResult result = tree.Save(dest.path());
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_TRUE(tree.Holds(dest / "#/first.bin", 1, 4000));
    EXPECT_FALSE(fs::exists(dest / "#/third.bin"));
    if (how == kTmpfs || how == kReadOnly) test::Run("umount " + at);
    EXPECT_FALSE(result.completed()) << "the task was never stopped: the stop alone says nothing";
    EXPECT_EQ(std::pair(result.stop, result.error), ends[how]);
  }
}

// Whatever stops an item from being made or written ends the save as
// aborted, naming the item: here the run folder vanishes after the first
// file, so the folder after it cannot be made.
TEST(RecoveryWriterTest, AnItemThatCannotBeMadeEndsTheSave) {
  TempDir dest;
  CarvedTree tree;
  tree.Add(tree.root, u"first.bin", 1, 100);
  tree.Add(tree.Add(tree.root, u"Docs"), u"second.bin", 2, 100);
  tree.onProgress = [&](std::uint64_t done) {
    if (done == 1) fs::remove_all(dest / "#");
  };
  const SaveResult result = tree.Save(dest.path());
  EXPECT_EQ(std::pair(result.stop, result.error), std::pair(SaveResult::Stop::WriteFailed, ENOENT));
  EXPECT_EQ(result.failedItem, dest / "#" / "Docs");
  EXPECT_EQ(result.files, 1u);
}

// The writer holds a bounded number of folders open however deep the tree,
// so a chain of folders far deeper than the open-files limit is written
// whole: a file beside the chain at every level (written on the way back
// up), and in the middle a folder whose name is too long, which goes with
// everything below it into "Orphan Files".
TEST(RecoveryWriterTest, AChainOfFoldersDeeperThanTheOpenFilesLimit) {
  constexpr int kDepth = 200, kLong = 100;
  TempDir dest;
  CarvedTree tree;
  std::vector<ItemNode*> chain{tree.root};
  for (int level = 1; level <= kDepth; ++level)
    chain.push_back(tree.Add(chain.back(), level == kLong ? std::u16string(300, u'n') : u"d"));
  tree.Add(chain.back(), u"deepest.bin", 1, 1000);
  for (int level = 0; level < kDepth; ++level)
    tree.Add(chain[static_cast<std::size_t>(level)], u"beside.bin", 10 + level, 10);

  rlimit old{};
  ::getrlimit(RLIMIT_NOFILE, &old);
  const rlimit limited{64, old.rlim_max};
  ::setrlimit(RLIMIT_NOFILE, &limited);
  const SaveResult result = tree.Save(dest.path());
  ::setrlimit(RLIMIT_NOFILE, &old);

  ASSERT_TRUE(result.completed()) << std::strerror(result.error) << " " << result.failedItem;
  EXPECT_EQ(std::pair(result.files, result.folders), std::pair(201ul, 200ul));
  const fs::path orphan = dest / kOrphanFolder / ("#0" + std::string(127, 'n'));
  const auto folderOf = [&](int level) {
    fs::path folder = level < kLong ? dest / "#" : orphan;
    for (int i = level < kLong ? 0 : kLong; i < level; ++i)
      folder /= "d";
    return folder;
  };
  for (int level = 0; level < kDepth; ++level) {
    if (level == kLong) continue;  // the chain's own folder there has the long name
    EXPECT_TRUE(tree.Holds(folderOf(level) / "beside.bin", 10 + level, 10)) << level;
  }
  EXPECT_TRUE(tree.Holds(orphan / "beside.bin", 10 + kLong, 10));
  EXPECT_TRUE(tree.Holds(folderOf(kDepth) / "deepest.bin", 1, 1000));
}

// Files and folders carry their item's date: the date the listing shows as
// modified, else the creation date; an item without a usable date keeps the
// time it was written.
TEST(RecoveryWriterTest, RecoveredItemsCarryTheirItemsDates) {
  const auto packed = [](int y, int m, int d) {
    return static_cast<std::uint16_t>(((y - 1980) << 9) | (m << 5) | d);
  };
  TempDir dest;
  CarvedTree tree;
  ItemNode* folder = tree.Add(tree.root, u"Dated");
  folder->accessDate = packed(2019, 6, 1);
  ItemNode* both = tree.Add(folder, u"both.txt", 1, 10);
  both->accessDate = packed(2021, 3, 4), both->createDate = packed(2020, 1, 2);
  ItemNode* created = tree.Add(folder, u"created.txt", 2, 10);
  created->createDate = packed(2020, 1, 2);
  ItemNode* bad = tree.Add(folder, u"bad.txt", 3, 10);
  bad->accessDate = 0xFFFF;  // month 15
  tree.Add(folder, u"none.txt", 4, 10);
  const std::time_t before = std::time(nullptr);
  ASSERT_TRUE(tree.Save(dest.path()).completed());
  const auto modified = [&](const std::string& name) {
    return fs::last_write_time(dest / "#" / name);
  };
  const auto at = [](std::uint16_t date) {
    return fs::file_time_type::clock::from_sys(
        std::chrono::system_clock::from_time_t(*LocalTimeFromFatDate(date)));
  };
  EXPECT_EQ(modified("Dated"), at(folder->accessDate));
  EXPECT_EQ(modified("Dated/both.txt"), at(both->accessDate));
  EXPECT_EQ(modified("Dated/created.txt"), at(created->createDate));
  for (const char* undated : {"Dated/bad.txt", "Dated/none.txt"}) {
    EXPECT_GE(modified(undated), fs::file_time_type::clock::from_sys(
                                     std::chrono::system_clock::from_time_t(before - 1)))
        << undated;
  }
}

// Each folder remembers which collision numbers it has used, and the names
// come out as if every clash had been tried from "#0" again: names that
// look like collision names take their turn, and another folder starts
// afresh.
TEST(RecoveryWriterTest, ClashesAreNumberedAsIfTriedFromTheStart) {
  TempDir dest;
  CarvedTree tree;
  for (const char* folder : {"One", "Two"}) {
    ItemNode* node = tree.Add(tree.root, Utf16FromUtf8(folder));
    for (const char16_t* name : {u"a.txt", u"a.txt", u"#2a.txt", u"a.txt", u"a.txt", u"#0a.txt"})
      tree.Add(node, name, 1, 10);
  }
  ASSERT_TRUE(tree.Save(dest.path()).completed());
  for (const char* folder : {"One", "Two"}) {
    EXPECT_EQ(Listing(dest / "#" / folder),
              (Strings{"#0#0a.txt", "#0a.txt", "#1a.txt", "#2a.txt", "#3a.txt", "a.txt"}));
  }
}

TEST(RecoveryNamesTest, CollisionsAndShortening) {
  EXPECT_EQ(CollisionName("a.txt", 12), "#11a.txt");
  const std::string collided = CollisionName(std::string(kMaxNameBytes - 4, 'n') + ".txt", 3);
  EXPECT_EQ(collided.size(), kMaxNameBytes);
  EXPECT_TRUE(collided.starts_with("#2n") && collided.ends_with("n.txt")) << collided;
  EXPECT_EQ(ShortenName(std::string(100, 'a') + "\xC3\xA9\xC3\xA9", 101), std::string(100, 'a'))
      << "never cut inside a character";
}

}  // namespace
}  // namespace restorix
