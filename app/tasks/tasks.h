// The long jobs of the system as tasks: a scan (directory scan, signature
// search or both), saving checked items and imaging a volume. Each runs on a
// worker thread, tells its owner its phases, progress and process-log rows
// through a TaskSink, and always ends with its completion event and outcome.
// A lost source or output ends a task here, at its boundary; any other
// exception travels back to the owner's thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "catalogue/item_tree.h"
#include "catalogue/recovery_writer.h"
#include "disk/imaging.h"
#include "disk/volume.h"
#include "fs/scan.h"
#include "task.h"
#include "tasks/process_log.h"

namespace restorix {

// What a task's end means to its owner.
enum class TaskOutcome : std::uint32_t {
  None = 0,  // scans: nothing to tell
  SaveCompleted = 1,
  ImagingCompleted = 2,
  ImagingAborted = 3,
  SaveAborted = 4,
};

// Everything a task tells its owner: progress and phases (the engine's
// events), log rows, that the tree is ready to be shown, and its end.
class TaskSink : public TaskEvents {
 public:
  virtual void LogEntry(const ProcessLogEntry& entry) { (void)entry; }
  virtual void TreeRefreshed() {}
  virtual void TaskFinished(TaskOutcome outcome) { (void)outcome; }
};

// The details of how a task went, for owners that show more than the
// outcome (the command line's reasons and counts).
struct TaskReport {
  TaskOutcome outcome = TaskOutcome::None;
  bool completed = false;
  bool deviceLost = false;  // the source went away; what was found stays
  // The sectors that could not be read (for an image, as its map has them).
  std::vector<SectorRange> unreadable;
  SaveResult save;
  ImageResult image;
};

// The process-log row of a task that met unreadable sectors:
// "Unreadable sectors: N" and, as its description, the first ranges
// ("Sectors 8-15, 2048, ..."). Sent after the task's closing row.
ProcessLogEntry UnreadableEntry(const std::vector<SectorRange>& ranges, std::uint8_t status);

// A scan as the owner asks for it, once its source is open.
struct ScanJob {
  ScanMode mode = ScanMode::DeletedFiles;
  std::vector<SignatureRecord> types;  // in type-table order
  std::uint32_t assumedSize = 1024;
  std::string driveName;  // as the process log names the source
};

// `entry` is the owner's current log entry: the task fills it and sends it
// when it starts and when it ends.
TaskReport ScanTask(const Volume& volume, const ScanJob& job, ItemTree& tree, const StopToken& stop,
                    TaskSink& sink, ProcessLogEntry& entry);
TaskReport SaveTask(const Volume& volume, const ItemTree& tree, const SaveOptions& options,
                    const StopToken& stop, TaskSink& sink);
// How an imaging task treats an image it does not finish (stopped, source
// lost, output full). A finished image keeps its map in every case: the map
// says which of the image's sectors are unreadable rather than zeros.
enum class ImagingRun {
  Single,     // the unfinished image and its map are deleted (the desktop program)
  Resumable,  // they stay, for a Resume run to carry on
  Resume,     // carries on such an image from its map; it stays if unfinished again
};
TaskReport ImagingTask(const Volume& volume, const std::filesystem::path& image,
                       const StopToken& stop, TaskSink& sink, ProcessLogEntry& entry,
                       ImagingRun run);

// Sets the token running, runs the task on a worker thread and waits for its
// end. An exception the task lets out is raised again here, on the owner's
// thread.
TaskReport RunOnWorker(StopToken& stop, const std::function<TaskReport()>& task);

// The owner's side of a task's end: the token cleared, the rows a save
// leaves in the log, and the message to show (empty for scans).
struct Completion {
  std::string message;
  bool error = false;
};
Completion CompleteTask(StopToken& stop, ProcessLog& log, ProcessLogEntry& entry,
                        TaskOutcome outcome);

}  // namespace restorix
