// The four tasks: their phases, log rows and outcomes, how a stop or a lost
// device ends them, and the owner's completion step; the process log's time
// text and the exact layout of a saved log.
#include "tasks/tasks.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "support/fake_source.h"
#include "support/test_support.h"
#include "tasks/image_space.h"
#include "tasks/process_log.h"
#include "tasks/rename_dialog.h"

namespace restorix {
namespace {

using Events = std::vector<std::string>;

// An NTFS volume with files, held in memory so that it can be lost, and the
// owner of its tasks: records everything a task tells it, in order.
struct Demo : TaskSink {
  std::shared_ptr<test::FakeSource> source;
  std::shared_ptr<const Volume> volume;
  ItemTree tree;
  StopToken stop;
  Events events;
  std::thread::id thread;
  bool stopOnProgress = false;

  // The volume in memory, or the image file itself.
  explicit Demo(SourceKind kind = SourceKind::LogicalDrive, bool fromFile = false) {
    const auto image = test::Fixture("ntfs-c4k.img");
    source = std::make_shared<test::FakeSource>(test::ReadFile(image));
    volume =
        fromFile ? Volume::Open(kind, image).volume : Volume::Open(kind, source, u"demo").volume;
    EXPECT_TRUE(volume);
  }
  TaskReport Run(const std::function<TaskReport()>& task) { return RunOnWorker(stop, task); }
  TaskReport Scan(ScanMode mode, ProcessLogEntry& entry) {
    const ScanJob job{mode, {}, 1024, "demo"};
    return Run([&] { return ScanTask(*volume, job, tree, stop, *this, entry); });
  }

  void ScanProgress(std::uint64_t, std::uint64_t) override {
    if (stopOnProgress) stop.RequestStop();
  }
  void TaskPhase(std::uint32_t phase, std::uint32_t count) override {
    events.push_back("phase " + std::to_string(phase) + "/" + std::to_string(count));
  }
  void LogEntry(const ProcessLogEntry& entry) override {
    events.push_back("log " + std::to_string(entry.status) + " " + entry.processName);
    thread = std::this_thread::get_id();
  }
  void TreeRefreshed() override { events.push_back("tree"); }
  void TaskFinished(TaskOutcome outcome) override {
    events.push_back("finished " + std::to_string(static_cast<int>(outcome)));
  }
};

TEST(TasksTest, DirectoryScanCompletedStoppedOrLost) {
  enum End { Completed, Stopped, Lost };
  const std::string scan = "Processing directory structure for demo";
  const std::string image = "Processing Image file :ntfs-c4k.img";
  const std::tuple<End, bool, std::string, std::string> cases[] = {
      {Completed, false, "Selected demo", scan},
      {Completed, true, image, image},
      {Stopped, false, "Selected demo", scan},
      {Lost, false, "Selected demo", scan}};
  for (const auto& [end, imageFile, name, row] : cases) {
    Demo demo(SourceKind::LogicalDrive, imageFile);
    demo.stopOnProgress = end == Stopped;
    if (end == Lost) demo.source->LoseAfter(demo.source->reads() + 2);
    ProcessLogEntry entry{name, "Processing Mode: Deleted File Recovery", "", 0};
    const TaskReport report = demo.Scan(ScanMode::DeletedFiles, entry);
    EXPECT_EQ(report.completed, end == Completed);
    EXPECT_EQ(report.deviceLost, end == Lost);
    const std::string last = end == Completed ? "log 2 Completed " : "log 1 Aborted ";
    EXPECT_EQ(demo.events, (Events{"phase 1/1", "log 0 " + row, last + row, "tree", "finished 0"}));
    EXPECT_NE(demo.thread, std::this_thread::get_id()) << "tasks run on a worker thread";
    EXPECT_TRUE(end != Completed || demo.tree.root()->firstChild != nullptr);
  }
}

TEST(TasksTest, SignatureSearchPhasesForAVolumeAndAWholeDisk) {
  for (const bool advanced : {false, true}) {
    Demo demo(advanced ? SourceKind::PhysicalDisk : SourceKind::LogicalDrive);
    ProcessLogEntry entry{"Selected demo", "1 file type(s) to search", "", 0};
    EXPECT_TRUE(demo.Scan(advanced ? ScanMode::Advanced : ScanMode::Format, entry).completed);
    const std::string start = "log 0 Searching for known file type(s)";
    const std::string end = "log 2 Completed searching for known file type(s)";
    EXPECT_EQ(demo.events, (advanced ? Events{"phase 1/1", start, end, "tree", "finished 0"}
                                     : Events{"phase 1/3", start, "phase 2/3", "phase 3/3", end,
                                              "tree", "finished 0"}));
    EXPECT_EQ(entry.description, "----------------------------");
  }
}

TEST(TasksTest, ImagingCompletedOrAborted) {
  test::TempDir dir;
  for (const bool stop : {false, true}) {
    Demo demo;
    demo.stopOnProgress = stop;
    ProcessLogEntry entry{"Imaging Disk :demo", "To Location " + (dir / "i.qni").string(), "", 0};
    const TaskReport report = demo.Run([&] {
      return ImagingTask(*demo.volume, dir / "i.qni", demo.stop, demo, entry, ImagingRun::Single);
    });
    EXPECT_EQ(report.outcome, stop ? TaskOutcome::ImagingAborted : TaskOutcome::ImagingCompleted);
    const std::string end = stop ? "log 1 Aborted" : "log 2 Completed";
    EXPECT_EQ(demo.events,
              (Events{"phase 1/1", "log 0 Imaging Disk :demo", end + " Imaging Disk :demo",
                      "finished " + std::to_string(static_cast<int>(report.outcome))}));
    ProcessLog log;
    const Completion done = CompleteTask(demo.stop, log, entry, report.outcome);
    EXPECT_EQ(done.message,
              stop ? "Imaging of logical drive aborted." : "Imaging of logical drive completed.");
    EXPECT_EQ(done.error, stop);
    EXPECT_TRUE(log.empty());
    EXPECT_FALSE(demo.stop.running());
  }
}

TEST(TasksTest, SavingCompletedOrAbortedLeavesItsRowAndMessage) {
  test::TempDir dir;
  test::WriteFile(dir / "file", {1});
  for (const bool fail : {false, true}) {
    Demo demo;
    demo.tree = test::ScanVolume(*demo.volume).tree;
    demo.tree.root()->checked = 1;
    WalkTree(demo.tree.root(), [](ItemNode& n, int) { n.checked = 1; });
    SaveOptions options{fail ? dir / "file" : dir.path(), nullptr};
    const TaskReport report =
        demo.Run([&] { return SaveTask(*demo.volume, demo.tree, options, demo.stop, demo); });
    EXPECT_EQ(report.outcome, fail ? TaskOutcome::SaveAborted : TaskOutcome::SaveCompleted);
    EXPECT_EQ(
        demo.events,
        (Events{"phase 1/1", "finished " + std::to_string(static_cast<int>(report.outcome))}));
    ProcessLog log;
    ProcessLogEntry entry{"Completed Processing directory structure", "", "", LOG_COMPLETED};
    const Completion done = CompleteTask(demo.stop, log, entry, report.outcome);
    EXPECT_EQ(done.message, fail ? "Saving of data aborted." : "Saving of data completed.");
    ASSERT_EQ(log.rows().size(), 1u);
    EXPECT_EQ(log.rows()[0].description, fail ? "Processing Aborted" : "Processing Completed");
    EXPECT_EQ(log.rows()[0].status, fail ? LOG_ABORTED : LOG_COMPLETED);
  }
  StopToken stop;
  ProcessLog log;
  ProcessLogEntry entry;
  EXPECT_TRUE(CompleteTask(stop, log, entry, TaskOutcome::None).message.empty())
      << "scans tell nothing";
}

// The sectors a scan or a save cannot read are reported as ranges, and in a
// row after the task's own; a source lost at a sector the task reads ends
// it as lost. The sectors are chosen among those a run without faults reads.
TEST(TasksTest, UnreadableSectorsAndLostSourcesInScansAndSaves) {
  test::TempDir dir;
  enum Kind { Scan, Save };
  const auto run = [&](Kind kind, Demo& demo) {
    if (kind == Scan) {
      ProcessLogEntry entry{"Selected demo", "", "", 0};
      return demo.Scan(ScanMode::DeletedFiles, entry);
    }
    WalkTree(demo.tree.root(), [](ItemNode& n, int) { n.checked = 1; });
    static int runs = 0;
    const auto to = dir / std::to_string(runs++);
    std::filesystem::create_directory(to);
    return demo.Run([&] {
      return SaveTask(*demo.volume, demo.tree, {to, nullptr}, demo.stop, demo);
    });
  };
  // A save saves what a scan of the sound source found.
  const auto demoFor = [](Kind kind) {
    auto demo = std::make_unique<Demo>();
    if (kind == Save) demo->tree = test::ScanVolume(*demo->volume).tree;
    return demo;
  };
  for (const Kind kind : {Scan, Save}) {
    SCOPED_TRACE(kind == Scan ? "scan" : "save");
    // The reads of a run without faults, of two sectors or more.
    std::vector<std::uint64_t> read;
    {
      const auto clean = demoFor(kind);
      const std::size_t before = clean->source->readLog().size();
      run(kind, *clean);
      const auto& log = clean->source->readLog();
      for (std::size_t i = before; i < log.size(); ++i) {
        if (log[i].second >= 1024 && log[i].first % 512 == 0) read.push_back(log[i].first / 512);
      }
    }
    ASSERT_GE(read.size(), 8u);
    for (const std::size_t pick : {std::size_t{0}, read.size() / 2, read.size() - 1}) {
      const std::uint64_t bad = read[pick];
      SCOPED_TRACE("sector " + std::to_string(bad));
      const auto demo = demoFor(kind);
      demo->source->FailRange(bad * 512, 1024, EIO);
      const TaskReport report = run(kind, *demo);
      EXPECT_TRUE(report.completed);
      EXPECT_EQ(report.unreadable, (std::vector<SectorRange>{{bad, 2}}));
      const auto row =
          std::find(demo->events.begin(), demo->events.end(), "log 2 Unreadable sectors: 2");
      ASSERT_NE(row, demo->events.end());
      EXPECT_EQ(*(row + 1), kind == Scan ? "tree" : "finished 1");

      const auto lost = demoFor(kind);
      lost->source->LoseAt(bad * 512);
      const TaskReport ended = run(kind, *lost);
      EXPECT_FALSE(ended.completed);
      EXPECT_TRUE(ended.deviceLost);
    }
  }
}

// What a task lets out (a fault of the program, memory running out) is not
// a finished task: it reaches the owner's thread as it was raised.
TEST(TasksTest, AnExceptionInATaskReachesItsOwner) {
  StopToken stop;
  EXPECT_THROW(RunOnWorker(stop, []() -> TaskReport { throw std::bad_alloc(); }), std::bad_alloc);
  EXPECT_THROW(RunOnWorker(stop, []() -> TaskReport { throw std::logic_error("bug"); }),
               std::logic_error);
  const auto done = [] {
    TaskReport report;
    report.completed = true;
    return report;
  };
  EXPECT_TRUE(RunOnWorker(stop, done).completed);
}

TEST(RenameDialogTest, StatesAfterEachChangeAndTheNewName) {
  const std::pair<const char*, std::array<bool, 4>> cases[] = {
      // text, {OK enabled, OK kept as it was, forbidden-character message, select all}
      {"holiday", {true, false, false, false}},   {"", {false, false, false, false}},
      {"name:", {false, true, true, true}},       {"name\"", {false, true, true, true}},
      {"a\\", {false, true, true, true}},         {"two words", {false, false, false, true}},
      {"two words?", {false, false, true, true}}, {"a:b", {true, false, false, false}},
  };
  for (const auto& [text, expected] : cases) {
    const RenameCheck c = CheckNewName(std::u16string(text, text + std::strlen(text)));
    EXPECT_EQ((std::array{c.okEnabled, c.keepOkAsItWas, c.showSpecialCharacters, c.selectAll}),
              expected)
        << text;
  }
  EXPECT_EQ(RenamedName(u"very long name.jpeg", u"short"), u"short.jpeg");
  EXPECT_EQ(RenamedName(u"archive.tar.gz", u"a"), u"a.gz");
  EXPECT_EQ(RenamedName(u"README", u"read"), u"read");
}

// A local time, with the zone pinned to UTC so that the text is known.
std::time_t Local(int month, int day, int hour, int minute, int second, int year = 2026) {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  std::tm t{};
  t.tm_year = year - 1900, t.tm_mon = month - 1, t.tm_mday = day;
  t.tm_hour = hour, t.tm_min = minute, t.tm_sec = second;
  return timegm(&t);
}

TEST(ProcessLogTest, TimeTextPutsTheYearAfterTheDayInEnglishFromAnyThread) {
  EXPECT_EQ(FormatLogTime(Local(12, 5, 2, 10, 43)), "Sat Dec 05 2026 02:10:43");
  EXPECT_EQ(FormatLogTime(Local(9, 30, 23, 59, 59, 2027)), "Thu Sep 30 2027 23:59:59");
  std::setlocale(LC_ALL, "de_DE.UTF-8");
  EXPECT_EQ(FormatLogTime(Local(3, 1, 0, 0, 0)), "Sun Mar 01 2026 00:00:00");
  std::setlocale(LC_ALL, "C");
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, when = Local(1 + t, 1 + t, t, t, t)] {
      const std::string expected = FormatLogTime(when);
      for (int i = 0; i < 2000; ++i)
        wrong += FormatLogTime(when) != expected;
    });
  }
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(wrong, 0);
}

TEST(ProcessLogTest, SavedLogsOfNoneOneAndThreeRows) {
  test::TempDir dir;
  const auto saved = [&](const ProcessLog& log) {
    EXPECT_TRUE(log.Save(dir / "log.txt"));
    const auto bytes = test::ReadFile(dir / "log.txt");
    return std::string(bytes.begin(), bytes.end());
  };
  const std::string dashes(68, '-'), mode = "Processing Mode: Deleted File Recovery";
  const std::string header =
      "------------------------Quillon Restorix v1.0.1  Process Log------------------------\n\n\n" +
      dashes;
  ProcessLog log;
  EXPECT_EQ(log.Text(), header);
  EXPECT_FALSE(log.Save(dir / "empty.txt")) << "an empty log cannot be saved";
  EXPECT_FALSE(std::filesystem::exists(dir / "empty.txt"));

  log.Append({"Selected /dev/sdb1", mode, "", LOG_STARTED}, Local(12, 5, 2, 10, 43));
  const std::string one = header +
                          "\nSelected /dev/sdb1\n\t\tProcessing Mode: Deleted File Recovery\n\t\t"
                          "Sat Dec 05 2026 02:10:43\n" +
                          dashes;
  EXPECT_EQ(saved(log), one);
  // Two more rows the same way, and no line feed after the last.
  const std::string scan = "Processing directory structure for /dev/sdb1";
  log.Append({scan, mode, "", LOG_STARTED}, Local(12, 5, 2, 10, 44));
  log.Append({"Completed " + scan, mode, "", LOG_COMPLETED}, Local(12, 5, 2, 11, 3));
  EXPECT_EQ(saved(log), one + "\n" + scan + "\n\t\t" + mode + "\n\t\tSat Dec 05 2026 02:10:44\n" +
                            dashes + "\nCompleted " + scan + "\n\t\t" + mode +
                            "\n\t\tSat Dec 05 2026 02:11:03\n" + dashes);
  log.Clear();
  EXPECT_FALSE(log.Save(dir / "x.txt"));
  log.Append({"row", "", "", LOG_STARTED});
  EXPECT_FALSE(log.Save(dir / "missing/x.txt"));
}

// A log is put in place only once written whole: a save cut short (a
// file-size limit here) keeps the earlier log and leaves nothing else. What
// is no file in a folder, such as a device node, is written in place and
// stays what it is.
TEST(ProcessLogTest, ASaveCutShortKeepsTheEarlierLog) {
  ::signal(SIGXFSZ, SIG_IGN);
  test::TempDir dir;
  ProcessLog log;
  log.Append({std::string(200, 'r'), "description", "", LOG_STARTED});
  test::WriteFile(dir / "log.txt", {'o', 'l', 'd'});
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  const rlimit limited{100, old.rlim_max};
  ::setrlimit(RLIMIT_FSIZE, &limited);
  const bool saved = log.Save(dir / "log.txt");
  ::setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_FALSE(saved);
  EXPECT_EQ(test::ReadFile(dir / "log.txt"), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

  const auto null = dir / "null";
  if (::geteuid() != 0 || ::mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
    GTEST_SKIP() << "making a device node needs root";
  }
  EXPECT_TRUE(log.Save(null));
  EXPECT_TRUE(std::filesystem::is_character_file(null));
}

// The free space an image may take: what this user may write on the file
// system of its folder, plus what a file it replaces holds. Other programs
// write on the same file system, so each answer is compared with statvfs
// read right after it, not with an earlier answer.
TEST(ImageSpaceTest, WeighsTheFolderAndTheFileReplaced) {
  test::TempDir dir;
  const auto image = dir / "old.qni";
  const auto freeNow = [&dir] {
    struct statvfs fs {};
    EXPECT_EQ(statvfs(dir.path().c_str(), &fs), 0);
    return std::uint64_t{fs.f_bavail} * fs.f_frsize;
  };
  const ImageSpace before = CheckImageSpace(image, 0);
  ASSERT_TRUE(before.available.has_value());
  EXPECT_TRUE(before.enough);
  EXPECT_FALSE(CheckImageSpace(image, *before.available + (std::uint64_t{1} << 40)).enough);
  // A folder still to be made is weighed on the folder above it.
  EXPECT_TRUE(CheckImageSpace(dir / "new" / "deeper" / "x.qni", 0).available.has_value());
  {
    std::ofstream file(image, std::ios::binary);
    file << std::string(64 << 20, 'x');
  }
  const ImageSpace after = CheckImageSpace(image, 0);
  const std::uint64_t free = freeNow();
  ASSERT_TRUE(after.available.has_value());
  // The replaced file's 64 MiB are counted on top of the free space.
  EXPECT_GT(*after.available, free + (32 << 20));
}

}  // namespace
}  // namespace restorix
