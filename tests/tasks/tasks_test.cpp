// The four tasks: their phases, log rows and outcomes, how a stop or a lost
// device ends them, and the owner's completion step.
#include "tasks/tasks.h"

#include <gtest/gtest.h>

#include <thread>

#include "support/fake_source.h"
#include "support/test_support.h"

namespace restorix {
namespace {

using Events = std::vector<std::string>;

// An NTFS volume with files, held in memory so that it can be lost, and the
// owner of its tasks: records everything a task tells it, in order.
struct Demo : TaskSink {
  Engine engine;
  test::FakeSource* source = nullptr;
  Events events;
  std::thread::id thread;
  bool stopOnProgress = false;

  explicit Demo(SourceKind kind = SOURCE_LOGICAL_DRIVE) {
    auto fake = std::make_unique<test::FakeSource>(test::ReadFile(test::Fixture("ntfs-c4k.img")));
    source = fake.get();
    EXPECT_TRUE(engine.OpenSource(kind, std::move(fake), u"demo"));
  }
  TaskReport Run(const std::function<TaskReport()>& task) { return RunOnWorker(engine, task); }

  void ScanProgress(std::uint64_t, std::uint64_t) override {
    if (stopOnProgress) engine.keepRunning = 0;
  }
  void TaskPhase(std::uint32_t phase, std::uint32_t count) override {
    events.push_back("phase " + std::to_string(phase) + "/" + std::to_string(count));
  }
  void LogEntry(const ProcessLogEntry& entry) override {
    events.push_back("log " + std::to_string(entry.status) + " " + entry.processName);
    thread = std::this_thread::get_id();
  }
  void TreeRefreshed() override { events.push_back("tree"); }
  void TaskFinished(std::uint32_t outcome) override {
    events.push_back("finished " + std::to_string(outcome));
  }
};

TEST(TasksTest, DirectoryScanCompletedStoppedOrLost) {
  enum End { Completed, Stopped, Lost };
  const std::string scan = "Processing directory structure for demo";
  const std::string image = "Processing Image file :/images/a.qni";
  const std::tuple<End, bool, std::string, std::string> cases[] = {
      {Completed, false, "Selected demo", scan},
      {Completed, true, image, image},
      {Stopped, false, "Selected demo", scan},
      {Lost, false, "Selected demo", scan}};
  for (const auto& [end, imageMode, name, row] : cases) {
    Demo demo;
    demo.stopOnProgress = end == Stopped;
    if (end == Lost) demo.source->LoseAfter(demo.source->reads() + 2);
    ProcessLogEntry entry{name, "Processing Mode: Deleted File Recovery", "", 0};
    const TaskReport report =
        demo.Run([&] { return DirectoryScanTask(demo.engine, demo, entry, imageMode); });
    EXPECT_EQ(report.completed, end == Completed);
    EXPECT_EQ(report.scan.deviceLost, end == Lost);
    const std::string last = end == Completed ? "log 2 Completed " : "log 1 Aborted ";
    EXPECT_EQ(demo.events, (Events{"phase 1/1", "log 0 " + row, last + row, "tree", "finished 0"}));
    EXPECT_NE(demo.thread, std::this_thread::get_id()) << "tasks run on a worker thread";
    EXPECT_TRUE(end != Completed || demo.engine.treeRoot->firstChild != nullptr);
  }
}

TEST(TasksTest, SignatureSearchPhasesForAVolumeAndAWholeDisk) {
  for (const bool advanced : {false, true}) {
    Demo demo(advanced ? SOURCE_PHYSICAL_DISK : SOURCE_LOGICAL_DRIVE);
    ProcessLogEntry entry{"Selected demo", "1 file type(s) to search", "", 0};
    auto task = [&] { return SignatureSearchTask(demo.engine, demo, entry, advanced); };
    EXPECT_TRUE(demo.Run(task).completed);
    const std::string start = "log 0 Searching for known file type(s)";
    const std::string end = "log 2 Completed searching for known file type(s)";
    EXPECT_EQ(demo.events,
              (advanced ? Events{"phase 1/1", start, end, "tree", "finished 0"}
                        : Events{"phase 1/2", start, "phase 2/2", end, "tree", "finished 0"}));
    EXPECT_EQ(entry.description, "----------------------------");
  }
}

TEST(TasksTest, ImagingCompletedOrAbortedAndAnAbortedImageIsRemoved) {
  test::TempDir dir;
  for (const bool stop : {false, true}) {
    Demo demo;
    demo.stopOnProgress = stop;
    ProcessLogEntry entry{"Imaging Disk :demo", "To Location " + (dir / "i.qni").string(), "", 0};
    const TaskReport report =
        demo.Run([&] { return ImagingTask(demo.engine, demo, entry, dir / "i.qni"); });
    EXPECT_EQ(report.outcome, stop ? OUTCOME_IMAGING_ABORTED : OUTCOME_IMAGING_COMPLETED);
    EXPECT_EQ(std::filesystem::exists(dir / "i.qni"), !stop);
    const std::string end = stop ? "log 1 Aborted" : "log 2 Completed";
    EXPECT_EQ(demo.events,
              (Events{"phase 1/1", "log 0 Imaging Disk :demo", end + " Imaging Disk :demo",
                      "finished " + std::to_string(report.outcome)}));
    ProcessLog log;
    const Completion done = CompleteTask(demo.engine, log, entry, report.outcome);
    EXPECT_EQ(done.message,
              stop ? "Imaging of logical drive aborted." : "Imaging of logical drive completed.");
    EXPECT_EQ(done.error, stop);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(demo.engine.keepRunning, 0u);
  }
}

TEST(TasksTest, SavingCompletedOrAbortedLeavesItsRowAndMessage) {
  test::TempDir dir;
  test::WriteFile(dir / "file", {1});
  for (const bool fail : {false, true}) {
    Demo demo;
    RunScan(demo.engine, false, nullptr);
    demo.engine.treeRoot->checked = 1;
    WalkTree(demo.engine.treeRoot,
             [](const ItemNode& n, int) { const_cast<ItemNode&>(n).checked = 1; });
    SaveOptions options{fail ? dir / "file" : dir.path(), nullptr, nullptr};
    const TaskReport report = demo.Run([&] { return SaveTask(demo.engine, demo, options); });
    EXPECT_EQ(report.outcome, fail ? OUTCOME_SAVE_ABORTED : OUTCOME_SAVE_COMPLETED);
    EXPECT_EQ(demo.events, (Events{"phase 1/1", "finished " + std::to_string(report.outcome)}));
    ProcessLog log;
    ProcessLogEntry entry{"Completed Processing directory structure", "", "", LOG_COMPLETED};
    const Completion done = CompleteTask(demo.engine, log, entry, report.outcome);
    EXPECT_EQ(done.message, fail ? "Saving of data aborted." : "Saving of data completed.");
    ASSERT_EQ(log.rows().size(), 1u);
    EXPECT_EQ(log.rows()[0].description, fail ? "Processing Aborted" : "Processing Completed");
    EXPECT_EQ(log.rows()[0].status, fail ? LOG_ABORTED : LOG_COMPLETED);
  }
  Engine engine;
  ProcessLog log;
  ProcessLogEntry entry;
  EXPECT_TRUE(CompleteTask(engine, log, entry, 7).message.empty()) << "other outcomes tell nothing";
}

}  // namespace
}  // namespace restorix
