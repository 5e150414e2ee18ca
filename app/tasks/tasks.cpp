#include "tasks/tasks.h"

#include <unistd.h>

#include <thread>

#include "signature/search.h"

namespace restorix {

namespace {

constexpr const char* kSearching = "Searching for known file type(s)";
constexpr const char* kNoDescription = "----------------------------";
// The drive page names the source "Selected <name>".
constexpr std::size_t kSelectedPrefix = 9;

// While a task runs, the engine's own events (progress, phases) go to the
// task's sink.
class EventsTo {
 public:
  EventsTo(Engine& engine, TaskSink& sink) : engine_(engine) { engine.SetEvents(&sink); }
  ~EventsTo() { engine_.SetEvents(nullptr); }
  EventsTo(const EventsTo&) = delete;
  EventsTo& operator=(const EventsTo&) = delete;

 private:
  Engine& engine_;
};

void Conclude(ProcessLogEntry& entry, bool completed, const std::string& text) {
  entry.status = completed ? LOG_COMPLETED : LOG_ABORTED;
  entry.processName = (completed ? "Completed " : "Aborted ") + text;
}

}  // namespace

TaskReport DirectoryScanTask(Engine& engine, TaskSink& sink, ProcessLogEntry& entry,
                             bool imageMode) {
  TaskReport report;
  const EventsTo events(engine, sink);
  sink.TaskPhase(1, 1);
  if (!imageMode) {
    const std::string drive =
        entry.processName.size() > kSelectedPrefix ? entry.processName.substr(kSelectedPrefix) : "";
    entry.processName = "Processing directory structure for " + drive;
  }
  const std::string text = entry.processName;
  entry.status = LOG_STARTED;
  sink.LogEntry(entry);
  report.scan = RunScan(engine, false, nullptr);
  report.completed = report.scan.status != 0;
  Conclude(entry, report.completed, text);
  sink.LogEntry(entry);
  sink.TreeRefreshed();
  sink.TaskFinished(OUTCOME_NONE);
  return report;
}

TaskReport SignatureSearchTask(Engine& engine, TaskSink& sink, ProcessLogEntry& entry,
                               bool advancedMode) {
  TaskReport report;
  const EventsTo events(engine, sink);
  entry.status = LOG_STARTED;
  entry.processName = kSearching;
  entry.description = kNoDescription;
  sink.TaskPhase(1, advancedMode ? 1 : 2);
  sink.LogEntry(entry);
  report.scan = RunScan(engine, true, RunSignatureSearch);
  report.completed = report.scan.status != 0;
  Conclude(entry, report.completed, "searching for known file type(s)");
  sink.LogEntry(entry);
  sink.TreeRefreshed();
  sink.TaskFinished(OUTCOME_NONE);
  return report;
}

TaskReport SaveTask(Engine& engine, TaskSink& sink, const SaveOptions& options) {
  TaskReport report;
  const EventsTo events(engine, sink);
  sink.TaskPhase(1, 1);
  report.save = SaveCheckedItems(engine, options);
  report.completed = report.save.status != 0;
  report.outcome = report.completed ? OUTCOME_SAVE_COMPLETED : OUTCOME_SAVE_ABORTED;
  sink.TaskFinished(report.outcome);
  return report;
}

TaskReport ImagingTask(Engine& engine, TaskSink& sink, ProcessLogEntry& entry,
                       const std::filesystem::path& image) {
  TaskReport report;
  const EventsTo events(engine, sink);
  entry.status = LOG_STARTED;
  sink.TaskPhase(1, 1);
  sink.LogEntry(entry);
  report.image = ImageVolume(engine, image);
  report.completed = report.image.status != 0;
  report.outcome = report.completed ? OUTCOME_IMAGING_COMPLETED : OUTCOME_IMAGING_ABORTED;
  // An image that was not finished is no image: it is removed.
  if (!report.completed && report.image.created) ::unlink(image.c_str());
  Conclude(entry, report.completed, entry.processName);
  sink.LogEntry(entry);
  sink.TaskFinished(report.outcome);
  return report;
}

TaskReport RunOnWorker(Engine& engine, const std::function<TaskReport()>& task) {
  engine.keepRunning = 1;
  TaskReport report;
  std::thread worker([&] { report = task(); });
  worker.join();
  return report;
}

Completion CompleteTask(Engine& engine, ProcessLog& log, ProcessLogEntry& entry,
                        std::uint32_t outcome) {
  engine.keepRunning = 0;
  switch (outcome) {
    case OUTCOME_SAVE_COMPLETED:
      entry.description = "Processing Completed";
      log.Append(entry);
      return {"Saving of data completed.", false};
    case OUTCOME_IMAGING_COMPLETED:
      return {"Imaging of logical drive completed.", false};
    case OUTCOME_IMAGING_ABORTED:
      return {"Imaging of logical drive aborted.", true};
    case OUTCOME_SAVE_ABORTED:
      entry.status = LOG_ABORTED;
      entry.description = "Processing Aborted";
      log.Append(entry);
      return {"Saving of data aborted.", true};
    default:
      return {};
  }
}

}  // namespace restorix
