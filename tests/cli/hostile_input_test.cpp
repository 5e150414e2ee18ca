// `restorix` on hostile saved scans: a tree far deeper than any real disk's
// is read, searched and recovered without recursion, in memory that grows
// with the file, and every path written stays one the system can open.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <fstream>
#include <nlohmann/json.hpp>

#include "catalogue/scan_info.h"
#include "support/test_support.h"
#include "tasks/tasks.h"
#include "util/text.h"

namespace restorix {
namespace {

namespace fs = std::filesystem;
using test::Quote;
using Json = nlohmann::json;

test::CommandResult Restorix(const std::string& arguments) {
  // A small stack catches recursion over the tree; the address-space limit
  // (not under AddressSanitizer, which reserves terabytes) catches anything
  // that grows faster than the file.
#ifdef __SANITIZE_ADDRESS__
  const std::string limits = "ulimit -s 1024; ";
#else
  const std::string limits = "ulimit -s 1024; ulimit -v 2000000; ";
#endif
  return test::Run(limits + Quote(test::RestorixBinary().string()) + " " + arguments);
}

// A chain of 200,000 folders, each the only child of the one above, with
// one carved file at the bottom, saved over a raw disk image.
TEST(HostileScanTest, AChainOfTwoHundredThousandFoldersIsFoundAndRecovered) {
  constexpr int kDepth = 200000;
  test::TempDir dir;
  const fs::path image = dir / "disk.img";
  test::WriteFile(image, test::Pattern(64));
  const OpenResult opened = Volume::Open(SourceKind::PhysicalDisk, image);
  ASSERT_TRUE(opened);
  ItemTree tree;
  ItemNode* folder = tree.NewRoot();
  folder->name = u".";
  folder->checked = 1;
  for (int level = 0; level < kDepth; ++level) {
    ItemNode* child = tree.NewNode();
    child->name = u"folder00";
    child->flags = ItemFlags::Folder;
    child->origin = ItemOrigin::CarvedRaw;
    tree.AddChild(folder, child);
    folder = child;
  }
  ItemNode* deepest = tree.NewNode();
  deepest->name = u"deepest.bin";
  deepest->size = 1000;
  deepest->origin = ItemOrigin::CarvedRaw;
  deepest->location = Carved{3};
  tree.AddChild(folder, deepest);
  const fs::path scan = dir / "deep.qns";
  ASSERT_TRUE(SaveScanInfo(scan, Utf16FromUtf8(image.string()), opened.volume->context(), tree));

  const auto found = Restorix("find --json --scan " + Quote(scan.string()) + " deepest.bin");
  ASSERT_EQ(found.exitCode, 0) << found.err;
  const Json items = Json::parse(found.out)["items"];
  ASSERT_EQ(items.size(), 1u);
  // Printing a path costs no more than the longest the system takes.
  const std::string path = items[0]["path"];
  EXPECT_TRUE(path.starts_with(".../folder00/") && path.ends_with("/deepest.bin")) << path;
  EXPECT_LE(path.size(), static_cast<std::size_t>(PATH_MAX) + 3);

  // 200,000 folders are made far faster in memory than on a disk, and are
  // gone at once with it; on a disk, removing them takes minutes.
  const fs::path out = dir / "out";
  fs::create_directory(out);
  if (::geteuid() != 0 || test::Run("mount -t tmpfs x " + Quote(out.string())).exitCode != 0)
    GTEST_SKIP() << "recovering the chain needs a tmpfs, which only root may mount";
  struct Unmount {
    std::string at;
    ~Unmount() { test::Run("umount " + at); }
  } unmount{Quote(out.string())};
  const auto saved = Restorix("recover --json --scan " + Quote(scan.string()) +
                              " --select deepest.bin --to " + Quote(out.string()));
  ASSERT_EQ(saved.exitCode, 0) << saved.err;
  const Json report = Json::parse(saved.out);
  EXPECT_EQ(std::tie(report["files"], report["folders"], report["bytes"]),
            std::tuple(1, kDepth, 1000));
  // Each part of the chain that would have gone past the longest path goes
  // on in "Orphan Files", numbered like any clash there.
  const auto& orphans = report["orphans"];
  ASSERT_GT(orphans.size(), 400u);
  EXPECT_EQ(orphans[0], "Orphan Files/#0folder00");
  EXPECT_EQ(orphans[1], "Orphan Files/#1folder00");
  const std::string written = test::RunOk("find " + Quote(out.string()) + " -name deepest.bin");
  ASSERT_FALSE(written.empty());
  EXPECT_LT(written.size(), static_cast<std::size_t>(PATH_MAX));
  const std::vector<std::uint8_t> disk = test::Pattern(64);
  EXPECT_EQ(test::ReadFile(written.substr(0, written.size() - 1)),
            std::vector<std::uint8_t>(disk.begin() + 3 * 512, disk.begin() + 3 * 512 + 1000));
}

// The flags of every open of `path` that an strace log records.
std::vector<std::string> OpensOf(const fs::path& log, const std::string& path) {
  std::vector<std::string> opens;
  std::ifstream in(log);
  for (std::string line; std::getline(in, line);) {
    const std::size_t at = line.find("\"" + path + "\", ");
    if (at != std::string::npos) opens.push_back(line.substr(at + path.size() + 4));
  }
  return opens;
}

// The flags (octal) of this process's descriptors open on `path`.
std::vector<int> OwnOpenFlags(const fs::path& path) {
  std::vector<int> flags;
  for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (fs::read_symlink(fd.path(), error) != path) continue;
    std::ifstream info("/proc/self/fdinfo/" + fd.path().filename().string());
    for (std::string line; std::getline(info, line);)
      if (line.starts_with("flags:")) flags.push_back(std::stoi(line.substr(6), nullptr, 8));
  }
  return flags;
}

// Every command, and the desktop program's tasks, leave the source as it
// was: its digest and time unchanged, and every open of it read-only.
TEST(SourceUntouchedTest, EveryCommandAndTaskOpensTheSourceReadOnly) {
  if (!test::HaveTool("strace") || test::Run("strace -o /dev/null true").exitCode != 0)
    GTEST_SKIP() << "strace cannot trace here";
  test::TempDir dir;
  const fs::path image = dir / "disk.img";
  fs::copy_file(test::Fixture("demo-disk.img"), image);
  fs::last_write_time(image, fs::last_write_time(image) - std::chrono::hours(24));
  const auto digest = [&] { return test::RunOk("sha256sum < " + Quote(image.string())); };
  const std::string before = digest();
  const auto modified = fs::last_write_time(image);
  const std::string img = Quote(image.string()), out = Quote((dir / "out").string());
  const std::string qns = Quote((dir / "p2.qns").string());
  const std::string commands[] = {
      "drives",
      "partitions " + img,
      "partitions --search " + img,
      "info " + img + " -p 1",
      "info " + img + " --offset 83968",
      "scan " + img + " -p 1 --mode format",
      "scan " + img + " --mode advanced --types jpg",
      "scan " + img + " --offset 83968 --save-scan " + qns,
      "find --scan " + qns + " '*'",
      "recover " + img + " -p 1 --to " + out,
      "recover --scan " + qns + " --to " + out,
      "image " + img + " -p 2 " + Quote((dir / "p2.qni").string()),
      "types",
  };
  const fs::path log = dir / "strace.log";
  for (const std::string& command : commands) {
    // LeakSanitizer cannot run under strace.
    const auto result = test::Run(
        "ASAN_OPTIONS=detect_leaks=0 strace -f -qq -e trace=open,openat,openat2 -o " +
        Quote(log.string()) + " " + Quote(test::RestorixBinary().string()) + " " + command);
    EXPECT_EQ(result.exitCode, 0) << command << ": " << result.err;
    const std::vector<std::string> opens = OpensOf(log, image.string());
    EXPECT_TRUE(!opens.empty() || command.find(img) == std::string::npos) << command;
    for (const std::string& flags : opens) {
      EXPECT_TRUE(flags.starts_with("O_RDONLY") && flags.find("O_CREAT") == std::string::npos &&
                  flags.find("O_TRUNC") == std::string::npos)
          << command << ": " << flags;
    }
  }
  // The tasks as the desktop program runs them, on the first partition.
  const OpenResult opened = Volume::Open(SourceKind::LogicalDrive, image, 1);
  ASSERT_TRUE(opened);
  const std::vector<int> flags = OwnOpenFlags(image);
  ASSERT_FALSE(flags.empty());
  for (const int f : flags)
    EXPECT_EQ(f & O_ACCMODE, O_RDONLY);
  struct : TaskSink {
  } sink;
  StopToken stop;
  ItemTree tree;
  ProcessLogEntry entry;
  EXPECT_TRUE(RunOnWorker(stop, [&] {
                return ScanTask(*opened.volume, ScanJob{}, tree, stop, sink, entry);
              }).completed);
  WalkTree(tree.root(), [](ItemNode& n, int) { n.checked = 1; });
  tree.root()->checked = 1;
  EXPECT_TRUE(RunOnWorker(stop, [&] {
                return SaveTask(*opened.volume, tree, SaveOptions{dir / "task", {}}, stop, sink);
              }).completed);
  EXPECT_TRUE(RunOnWorker(stop, [&] {
                return ImagingTask(*opened.volume, dir / "p1.qni", stop, sink, entry,
                                   ImagingRun::Single);
              }).completed);
  EXPECT_TRUE(LoadScanInfo(dir / "p2.qns", image).reopened);
  EXPECT_EQ(digest(), before);
  EXPECT_EQ(fs::last_write_time(image), modified);
}

}  // namespace
}  // namespace restorix
