// The long jobs of the system as tasks: a directory scan, a signature
// search, saving checked items and imaging a volume. Each runs on a worker
// thread, tells its owner its phases, progress and process-log rows through
// a TaskSink, and always ends with its completion event and outcome.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "catalogue/recovery_writer.h"
#include "disk/imaging.h"
#include "engine.h"
#include "fs/scan.h"
#include "tasks/process_log.h"

namespace restorix {

// What a task's end means to its owner.
enum TaskOutcome : std::uint32_t {
  OUTCOME_NONE = 0,  // scans: nothing to tell
  OUTCOME_SAVE_COMPLETED = 1,
  OUTCOME_IMAGING_COMPLETED = 2,
  OUTCOME_IMAGING_ABORTED = 3,
  OUTCOME_SAVE_ABORTED = 4,
};

// Everything a task tells its owner: progress and phases (the engine's
// events), log rows, that the tree is ready to be shown, and its end.
class TaskSink : public TaskEvents {
 public:
  virtual void LogEntry(const ProcessLogEntry& entry) { (void)entry; }
  virtual void TreeRefreshed() {}
  virtual void TaskFinished(std::uint32_t outcome) { (void)outcome; }
};

// The details of how a task went, for owners that show more than the
// outcome (the command line's reasons and counts).
struct TaskReport {
  std::uint32_t outcome = OUTCOME_NONE;
  bool completed = false;
  ScanResult scan;
  SaveResult save;
  ImageResult image;
};

// `entry` is the owner's current log entry: the task fills it and sends it
// when it starts and when it ends.
TaskReport DirectoryScanTask(Engine& engine, TaskSink& sink, ProcessLogEntry& entry,
                             bool imageMode);
TaskReport SignatureSearchTask(Engine& engine, TaskSink& sink, ProcessLogEntry& entry,
                               bool advancedMode);
TaskReport SaveTask(Engine& engine, TaskSink& sink, const SaveOptions& options);
TaskReport ImagingTask(Engine& engine, TaskSink& sink, ProcessLogEntry& entry,
                       const std::filesystem::path& image);

// Sets keepRunning, runs the task on a worker thread and waits for its end.
TaskReport RunOnWorker(Engine& engine, const std::function<TaskReport()>& task);

// The owner's side of a task's end: keepRunning cleared, the rows a save
// leaves in the log, and the message to show (empty for scans).
struct Completion {
  std::string message;
  bool error = false;
};
Completion CompleteTask(Engine& engine, ProcessLog& log, ProcessLogEntry& entry,
                        std::uint32_t outcome);

}  // namespace restorix
