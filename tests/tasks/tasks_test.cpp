// The four tasks: their phases, log rows and outcomes, how a stop or a lost
// device ends them, and the owner's completion step.
#include "tasks/tasks.h"

#include <gtest/gtest.h>

#include <thread>

#include "signature/search.h"
#include "support/fake_source.h"
#include "support/test_support.h"

namespace restorix {
namespace {

// Records everything a task tells its owner, in order.
struct Recorder : TaskSink {
  std::vector<std::string> events;
  std::vector<ProcessLogEntry> rows;
  std::thread::id thread;
  std::function<void()> onProgress;
  void ScanProgress(std::uint64_t, std::uint64_t) override {
    if (onProgress) onProgress();
  }
  void TaskPhase(std::uint32_t phase, std::uint32_t count) override {
    events.push_back("phase " + std::to_string(phase) + "/" + std::to_string(count));
  }
  void LogEntry(const ProcessLogEntry& entry) override {
    events.push_back("log " + std::to_string(entry.status) + " " + entry.processName);
    rows.push_back(entry);
    thread = std::this_thread::get_id();
  }
  void TreeRefreshed() override { events.push_back("tree"); }
  void TaskFinished(std::uint32_t outcome) override { events.push_back("finished " + std::to_string(outcome)); }
};

struct DemoNtfs {
  Engine engine;
  DemoNtfs() { EXPECT_TRUE(engine.OpenSource(SOURCE_LOGICAL_DRIVE, test::Fixture("demo-disk.img"), 2)); }
};

TEST(TasksTest, DirectoryScanLogsItsStartAndEndAndRefreshesTheTree) {
  DemoNtfs demo;
  Recorder sink;
  ProcessLogEntry entry{"Selected demo (partition 2)", "Processing Mode: Deleted File Recovery", "", 0};
  const TaskReport report = RunOnWorker(demo.engine, [&] { return DirectoryScanTask(demo.engine, sink, entry, false); });
  EXPECT_TRUE(report.completed);
  EXPECT_EQ(sink.events, (std::vector<std::string>{
                             "phase 1/1", "log 0 Processing directory structure for demo (partition 2)",
                             "log 2 Completed Processing directory structure for demo (partition 2)", "tree",
                             "finished 0"}));
  EXPECT_EQ(sink.rows.back().description, "Processing Mode: Deleted File Recovery");
  EXPECT_NE(sink.thread, std::this_thread::get_id()) << "tasks run on a worker thread";
  EXPECT_NE(demo.engine.treeRoot->firstChild, nullptr);

  // An image being processed keeps its own name.
  Recorder image;
  ProcessLogEntry imageEntry{"Processing Image file :/images/a.qni", "----------------------------", "", 0};
  RunOnWorker(demo.engine, [&] { return DirectoryScanTask(demo.engine, image, imageEntry, true); });
  EXPECT_EQ(image.events[1], "log 0 Processing Image file :/images/a.qni");
  EXPECT_EQ(image.events[2], "log 2 Completed Processing Image file :/images/a.qni");
}

TEST(TasksTest, AStoppedOrLostScanEndsAsAbortedWithItsCompletionEvent) {
  {
    DemoNtfs demo;
    Recorder sink;
    sink.onProgress = [&] { demo.engine.keepRunning = 0; };
    ProcessLogEntry entry{"Selected demo", "", "", 0};
    const TaskReport report = RunOnWorker(demo.engine, [&] { return DirectoryScanTask(demo.engine, sink, entry, false); });
    EXPECT_FALSE(report.completed);
    EXPECT_EQ(sink.events[2], "log 1 Aborted Processing directory structure for demo");
    EXPECT_EQ(sink.events.back(), "finished 0");
  }
  {
    // The device disappears halfway: aborted too, never completed.
    Engine engine;
    const auto bytes = test::ReadFile(test::Fixture("ntfs-c4k.img"));
    auto source = std::make_unique<test::FakeSource>(bytes);
    test::FakeSource* fake = source.get();
    ASSERT_TRUE(engine.OpenSource(SOURCE_LOGICAL_DRIVE, std::move(source), u"c4k"));
    fake->LoseAfter(fake->reads() + 2);
    Recorder sink;
    ProcessLogEntry entry{"Selected c4k", "", "", 0};
    const TaskReport report = RunOnWorker(engine, [&] { return DirectoryScanTask(engine, sink, entry, false); });
    EXPECT_TRUE(report.scan.deviceLost);
    EXPECT_EQ(sink.events[2], "log 1 Aborted Processing directory structure for c4k");
    EXPECT_EQ(sink.events.back(), "finished 0");
  }
}

TEST(TasksTest, SignatureSearchPhases) {
  struct Case {
    bool advanced;
    std::vector<std::string> phases;
  };
  for (const Case& c : {Case{false, {"phase 1/2", "phase 2/2"}}, Case{true, {"phase 1/1"}}}) {
    Engine engine;
    ASSERT_TRUE(engine.OpenSource(c.advanced ? SOURCE_PHYSICAL_DISK : SOURCE_LOGICAL_DRIVE,
                                  test::Fixture("demo-disk.img"), c.advanced ? 0 : 2));
    SignatureRecord jpeg;
    jpeg.sigLength = 3, jpeg.sigBytes[0] = 0xFF, jpeg.sigBytes[1] = 0xD8, jpeg.sigBytes[2] = 0xFF;
    jpeg.typeCode = 167, jpeg.SetExtension("jpg"), jpeg.SetCategory("Graphics");
    engine.selectedTypes = {jpeg};
    Recorder sink;
    ProcessLogEntry entry{"Selected demo", "3 file type(s) to search", "", 0};
    const TaskReport report = RunOnWorker(engine, [&] { return SignatureSearchTask(engine, sink, entry, c.advanced); });
    EXPECT_TRUE(report.completed);
    std::vector<std::string> phases;
    for (const auto& e : sink.events) {
      if (e.rfind("phase", 0) == 0) phases.push_back(e);
    }
    EXPECT_EQ(phases, c.phases);
    EXPECT_EQ(sink.rows.front().processName, "Searching for known file type(s)");
    EXPECT_EQ(sink.rows.front().description, "----------------------------");
    EXPECT_EQ(sink.rows.back().processName, "Completed searching for known file type(s)");
    EXPECT_EQ(sink.rows.back().status, LOG_COMPLETED);
  }
}

TEST(TasksTest, ImagingCompletedOrAbortedAndAnAbortedImageIsRemoved) {
  test::TempDir dir;
  for (const bool stop : {false, true}) {
    DemoNtfs demo;
    Recorder sink;
    if (stop) sink.onProgress = [&] { demo.engine.keepRunning = 0; };
    ProcessLogEntry entry{"Imaging Disk :demo", "To Location " + (dir / "demo.qni").string(), "", 0};
    const TaskReport report = RunOnWorker(demo.engine, [&] { return ImagingTask(demo.engine, sink, entry, dir / "demo.qni"); });
    EXPECT_EQ(report.outcome, stop ? OUTCOME_IMAGING_ABORTED : OUTCOME_IMAGING_COMPLETED);
    EXPECT_EQ(std::filesystem::exists(dir / "demo.qni"), !stop);
    EXPECT_EQ(sink.events.back(), "finished " + std::to_string(report.outcome));
    EXPECT_EQ(sink.rows.back().processName, stop ? "Aborted Imaging Disk :demo" : "Completed Imaging Disk :demo");
    ProcessLog log;
    const Completion done = CompleteTask(demo.engine, log, entry, report.outcome);
    EXPECT_EQ(done.message, stop ? "Imaging of logical drive aborted." : "Imaging of logical drive completed.");
    EXPECT_EQ(done.error, stop);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(demo.engine.keepRunning, 0u);
  }
}

TEST(TasksTest, SavingCompletedOrAbortedLeavesItsRowAndMessage) {
  test::TempDir dir;
  test::WriteFile(dir / "file", {1});
  for (const bool fail : {false, true}) {
    DemoNtfs demo;
    RunScan(demo.engine, false, nullptr);
    demo.engine.treeRoot->checked = 1;
    WalkTree(demo.engine.treeRoot, [](const ItemNode& n, int) { const_cast<ItemNode&>(n).checked = 1; });
    Recorder sink;
    SaveOptions options{fail ? dir / "file" : dir.path(), nullptr, nullptr};
    const TaskReport report = RunOnWorker(demo.engine, [&] { return SaveTask(demo.engine, sink, options); });
    EXPECT_EQ(report.outcome, fail ? OUTCOME_SAVE_ABORTED : OUTCOME_SAVE_COMPLETED);
    EXPECT_EQ(sink.events, (std::vector<std::string>{"phase 1/1", "finished " + std::to_string(report.outcome)}));
    ProcessLog log;
    ProcessLogEntry entry{"Completed Processing directory structure for demo", "", "", LOG_COMPLETED};
    const Completion done = CompleteTask(demo.engine, log, entry, report.outcome);
    EXPECT_EQ(done.message, fail ? "Saving of data aborted." : "Saving of data completed.");
    ASSERT_EQ(log.rows().size(), 1u);
    EXPECT_EQ(log.rows()[0].description, fail ? "Processing Aborted" : "Processing Completed");
    EXPECT_EQ(log.rows()[0].status, fail ? LOG_ABORTED : LOG_COMPLETED);
  }
  ProcessLog log;
  ProcessLogEntry entry;
  Engine engine;
  EXPECT_TRUE(CompleteTask(engine, log, entry, 7).message.empty()) << "other outcomes tell nothing";
}

}  // namespace
}  // namespace restorix
