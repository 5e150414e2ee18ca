// A source lost in the middle of every kind of task: each scan, an image and
// a save end as aborted with their rows, keep what they found or wrote, and
// report nothing as done that was not.
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "signature/signature_file.h"
#include "support/fake_source.h"
#include "support/test_support.h"
#include "tasks/tasks.h"
#include "util/text.h"

namespace restorix {
namespace {

namespace fs = std::filesystem;
using Events = std::vector<std::string>;

struct Owner : TaskSink {
  Events events;
  void LogEntry(const ProcessLogEntry& entry) override {
    events.push_back("log " + std::to_string(entry.status) + " " + entry.processName);
  }
  void TreeRefreshed() override { events.push_back("tree"); }
  void TaskFinished(TaskOutcome outcome) override {
    events.push_back("finished " + std::to_string(static_cast<int>(outcome)));
  }
};

// A FAT volume as mkfs.fat and mtools make it, with files live and deleted.
std::vector<std::uint8_t> FatVolume(const test::TempDir& dir, int bits) {
  const fs::path image = dir / ("fat" + std::to_string(bits) + ".img");
  const std::string i = " -i " + test::Quote(image.string()) + " ";
  test::MakeSparseFile(image, bits == 16 ? 16 << 20 : 40 << 20);
  test::RunOk("mkfs.fat -F " + std::to_string(bits) + " " + test::Quote(image.string()) +
              " >/dev/null");
  test::WriteFile(dir / "data", test::Pattern(40));
  const std::string env = "MTOOLS_SKIP_CHECK=1 ";
  test::RunOk(env + "mmd" + i + "::/Docs");
  for (const char* name : {"::/Docs/A.BIN", "::/Docs/B.BIN", "::/C.BIN", "::/D.BIN"})
    test::RunOk(env + "mcopy" + i + test::Quote((dir / "data").string()) + " " + name);
  test::RunOk(env + "mdel" + i + "::/Docs/A.BIN ::/C.BIN");
  return test::ReadFile(image);
}

std::multiset<std::string> FileNames(const ItemNode* root) {
  std::multiset<std::string> names;
  WalkTree(root, [&](const ItemNode& node, int) {
    if (!node.isFolder()) names.insert(Utf8FromUtf16(node.name));
  });
  return names;
}

// Sectors where the source is lost: the first sector of reads spread over
// the whole run that `readLog` records.
std::vector<std::uint64_t> LossPoints(const std::vector<std::pair<std::uint64_t, std::size_t>>& log,
                                      std::size_t from) {
  std::vector<std::uint64_t> points;
  constexpr std::size_t kPoints = 12;
  for (std::size_t n = 0; n < kPoints && from < log.size(); ++n)
    points.push_back(log[from + (log.size() - 1 - from) * n / (kPoints - 1)].first / 512);
  return points;
}

// Each kind of scan, with the device lost at each of a dozen sectors it
// reads: the scan ends as device lost with its aborted row, and what it
// found up to then stays (nothing it would not have found whole).
TEST(FaultInjectionTest, EachScanLostAtSectorK) {
  for (const char* tool : {"mkfs.fat", "mcopy", "mmd", "mdel"})
    if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
  test::TempDir dir;
  std::ifstream tsv(test::SourceFixture("../../data/signatures.tsv"));
  const std::vector<SignatureRecord> types = ParseSignatureTable(tsv);
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    SourceKind kind;
    ScanMode mode;
  };
  const Case cases[] = {
      {"NTFS", test::ReadFile(test::Fixture("ntfs-c4k.img")), SourceKind::LogicalDrive,
       ScanMode::DeletedFiles},
      {"FAT16", FatVolume(dir, 16), SourceKind::LogicalDrive, ScanMode::DeletedFiles},
      {"FAT32", FatVolume(dir, 32), SourceKind::LogicalDrive, ScanMode::DeletedFiles},
      {"exFAT", test::ReadFile(test::Fixture("exfat-card.img")), SourceKind::LogicalDrive,
       ScanMode::DeletedFiles},
      {"signature search", test::ReadFile(test::Fixture("ntfs-carving.img")),
       SourceKind::PhysicalDisk, ScanMode::Advanced},
  };
  for (const Case& c : cases) {
    const auto run = [&](std::optional<std::uint64_t> lostAt, ItemTree& tree) {
      auto source = std::make_shared<test::FakeSource>(c.bytes);
      const auto volume = Volume::Open(c.kind, source, u"demo").volume;
      EXPECT_TRUE(volume) << c.name;
      const std::size_t opened = source->readLog().size();
      if (lostAt) source->FailRange(*lostAt * 512, UINT64_MAX / 2, ENODEV);
      Owner owner;
      StopToken stop;
      ProcessLogEntry entry{"Selected demo", "", "", 0};
      const ScanJob job{c.mode, types, 1024, "demo"};
      const TaskReport report =
          RunOnWorker(stop, [&] { return ScanTask(*volume, job, tree, stop, owner, entry); });
      return std::tuple(report, owner.events, source, opened);
    };
    ItemTree whole;
    const auto [full, fullEvents, fullSource, opened] = run(std::nullopt, whole);
    ASSERT_TRUE(full.completed) << c.name;
    const std::multiset<std::string> all = FileNames(whole.root());
    ASSERT_FALSE(all.empty()) << c.name;
    const std::string row = fullEvents[0].substr(6);  // after "log 0 "
    for (const std::uint64_t k : LossPoints(fullSource->readLog(), opened)) {
      ItemTree tree;
      const auto [report, events, source, unused] = run(k, tree);
      EXPECT_TRUE(report.deviceLost && !report.completed) << c.name << " lost at " << k;
      const std::string aborted = c.mode == ScanMode::Advanced
                                      ? "Aborted searching for known file type(s)"
                                      : "Aborted " + row;
      EXPECT_EQ(events, (Events{"log 0 " + row, "log 1 " + aborted, "tree", "finished 0"}))
          << c.name << " lost at " << k;
      ASSERT_NE(tree.root(), nullptr);
      const std::multiset<std::string> found = FileNames(tree.root());
      EXPECT_TRUE(std::includes(all.begin(), all.end(), found.begin(), found.end()))
          << c.name << " lost at " << k;
    }
  }
}

// Imaging and saving with the source lost at a dozen sectors each: the image
// ends aborted and is removed; the save ends aborted, and what it reports as
// written (files, bytes) is what the destination holds.
TEST(FaultInjectionTest, ImageAndSaveLostAtSectorK) {
  const std::vector<std::uint8_t> bytes = test::ReadFile(test::Fixture("ntfs-c4k.img"));
  test::TempDir dir;
  const auto run = [&](bool imaging, std::optional<std::uint64_t> lostAt, ItemTree& tree) {
    auto source = std::make_shared<test::FakeSource>(bytes);
    const auto volume = Volume::Open(SourceKind::LogicalDrive, source, u"demo").volume;
    EXPECT_TRUE(volume);
    if (tree.root() == nullptr) {
      tree = test::ScanVolume(*volume).tree;
      tree.root()->checked = 1;
      WalkTree(tree.root(), [](ItemNode& n, int) { n.checked = 1; });
    }
    const std::size_t before = source->readLog().size();
    if (lostAt) source->FailRange(*lostAt * 512, UINT64_MAX / 2, ENODEV);
    Owner owner;
    StopToken stop;
    ProcessLogEntry entry{"Imaging Disk :demo", "", "", 0};
    fs::remove_all(dir / "out");
    const TaskReport report = RunOnWorker(stop, [&] {
      return imaging ? ImagingTask(*volume, dir / "out", stop, owner, entry, ImagingRun::Single)
                     : SaveTask(*volume, tree, SaveOptions{dir / "out", {}}, stop, owner);
    });
    return std::tuple(report, owner.events, source, before);
  };
  for (const bool imaging : {true, false}) {
    ItemTree tree;
    const auto [full, unused, source, before] = run(imaging, std::nullopt, tree);
    ASSERT_TRUE(full.completed);
    const auto points = LossPoints(source->readLog(), before);
    for (const std::uint64_t k : points) {
      const auto [report, events, lost, unused2] = run(imaging, k, tree);
      EXPECT_TRUE(report.deviceLost && !report.completed) << imaging << " lost at " << k;
      if (imaging) {
        EXPECT_EQ(report.image.stop, ImageResult::Stop::SourceLost);
        EXPECT_EQ(events, (Events{"log 0 Imaging Disk :demo", "log 1 Aborted Imaging Disk :demo",
                                  "finished 3"}));
        EXPECT_FALSE(fs::exists(dir / "out") || fs::exists(dir / "out.map"))
            << "an unfinished image is removed with its map";
        continue;
      }
      EXPECT_EQ(report.save.stop, SaveResult::Stop::SourceLost);
      EXPECT_EQ(events, Events{"finished 4"});
      StopToken stop;
      ProcessLog log;
      ProcessLogEntry entry;
      EXPECT_EQ(CompleteTask(stop, log, entry, report.outcome).message, "Saving of data aborted.");
      EXPECT_EQ(log.rows().at(0).description, "Processing Aborted");
      std::uint64_t files = 0, written = 0;
      for (const auto& e : fs::recursive_directory_iterator(dir / "out")) {
        if (!e.is_regular_file()) continue;
        ++files;
        written += e.file_size();
      }
      EXPECT_EQ(std::pair(files, written), std::pair(report.save.files, report.save.bytes))
          << "lost at " << k;
    }
  }
}

}  // namespace
}  // namespace restorix
