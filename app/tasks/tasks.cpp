#include "tasks/tasks.h"

#include <unistd.h>

#include <exception>
#include <thread>

#include "disk/rescue_map.h"

namespace restorix {

namespace {

constexpr const char* kSearching = "Searching for known file type(s)";
constexpr const char* kNoDescription = "----------------------------";

void Conclude(ProcessLogEntry& entry, bool completed, const std::string& text) {
  entry.status = completed ? LOG_COMPLETED : LOG_ABORTED;
  entry.processName = (completed ? "Completed " : "Aborted ") + text;
}

// A save or an image ended by a lost device: the source (nothing more can be
// read) or the output (nothing more can be written).
template <typename Result>
void EndedByLoss(const DeviceLostError& lost, Result& result, TaskReport& report) {
  const bool source = lost.side() == DeviceLostError::Side::Source;
  result.stop = source ? Result::Stop::SourceLost : Result::Stop::WriteFailed;
  result.error = lost.error();
  report.deviceLost = source;
}

// The volume's read faults for the length of one task: cleared when it
// starts, its stop token watched until it ends.
class TaskFaults {
 public:
  TaskFaults(const Volume& volume, const StopToken& stop) : faults_(volume.faults()) {
    faults_.Clear();
    faults_.Watch(&stop);
  }
  ~TaskFaults() { faults_.Watch(nullptr); }
  TaskFaults(const TaskFaults&) = delete;
  TaskFaults& operator=(const TaskFaults&) = delete;

 private:
  ReadFaults& faults_;
};

// Sends the row of the unreadable sectors, if there were any.
void LogUnreadable(TaskSink& sink, const TaskReport& report) {
  if (report.unreadable.empty()) return;
  sink.LogEntry(UnreadableEntry(report.unreadable, report.completed ? LOG_COMPLETED : LOG_ABORTED));
}

}  // namespace

ProcessLogEntry UnreadableEntry(const std::vector<SectorRange>& ranges, std::uint8_t status) {
  constexpr std::size_t kRangesShown = 8;
  ProcessLogEntry entry;
  entry.processName = "Unreadable sectors: " + std::to_string(SectorCount(ranges));
  entry.description = "Sectors ";
  for (std::size_t i = 0; i < ranges.size() && i < kRangesShown; ++i) {
    if (i > 0) entry.description += ", ";
    entry.description += std::to_string(ranges[i].first);
    if (ranges[i].count > 1)
      entry.description += "-" + std::to_string(ranges[i].first + ranges[i].count - 1);
  }
  if (ranges.size() > kRangesShown) entry.description += ", ...";
  entry.status = status;
  return entry;
}

TaskReport ScanTask(const Volume& volume, const ScanJob& job, ItemTree& tree, const StopToken& stop,
                    TaskSink& sink, ProcessLogEntry& entry) {
  TaskReport report;
  const bool search =
      job.mode != ScanMode::DeletedFiles || volume.context().fsType() == FsType::None;
  std::string text;
  if (search) {
    entry.processName = kSearching;
    entry.description = kNoDescription;
    text = "searching for known file type(s)";
    sink.TaskPhase(1, job.mode == ScanMode::Format ? kFormatScanPhases : 1);
  } else {
    // An image file keeps the row its owner made for it.
    if (!volume.isImageFile()) {
      entry.processName = "Processing directory structure for " + job.driveName;
    }
    text = entry.processName;
    sink.TaskPhase(1, 1);
  }
  entry.status = LOG_STARTED;
  sink.LogEntry(entry);
  const TaskFaults faults(volume, stop);
  try {
    RunScan(volume, job.mode, job.types, job.assumedSize, tree, TaskControl{stop, sink});
  } catch (const DeviceLostError&) {
    report.deviceLost = true;
  }
  report.completed = !report.deviceLost && stop.running();
  report.unreadable = volume.faults().unreadable();
  Conclude(entry, report.completed, text);
  sink.LogEntry(entry);
  LogUnreadable(sink, report);
  sink.TreeRefreshed();
  sink.TaskFinished(TaskOutcome::None);
  return report;
}

TaskReport SaveTask(const Volume& volume, const ItemTree& tree, const SaveOptions& options,
                    const StopToken& stop, TaskSink& sink) {
  TaskReport report;
  sink.TaskPhase(1, 1);
  const TaskFaults faults(volume, stop);
  try {
    SaveCheckedItems(volume, tree, options, TaskControl{stop, sink}, report.save);
  } catch (const DeviceLostError& lost) {
    EndedByLoss(lost, report.save, report);
  }
  report.completed = report.save.completed();
  report.unreadable = volume.faults().unreadable();
  LogUnreadable(sink, report);
  report.outcome = report.completed ? TaskOutcome::SaveCompleted : TaskOutcome::SaveAborted;
  sink.TaskFinished(report.outcome);
  return report;
}

TaskReport ImagingTask(const Volume& volume, const std::filesystem::path& image,
                       const StopToken& stop, TaskSink& sink, ProcessLogEntry& entry,
                       ImagingRun run) {
  TaskReport report;
  entry.status = LOG_STARTED;
  sink.TaskPhase(1, 1);
  sink.LogEntry(entry);
  try {
    ImageVolume(volume, image, TaskControl{stop, sink}, report.image, run == ImagingRun::Resume);
  } catch (const DeviceLostError& lost) {
    EndedByLoss(lost, report.image, report);
  }
  report.completed = report.image.completed();
  report.outcome = report.completed ? TaskOutcome::ImagingCompleted : TaskOutcome::ImagingAborted;
  report.unreadable = report.image.unreadable;
  if (!report.completed && report.image.created && run == ImagingRun::Single) {
    ::unlink(image.c_str());
    ::unlink(RescueMapPath(image).c_str());
  }
  Conclude(entry, report.completed, entry.processName);
  sink.LogEntry(entry);
  LogUnreadable(sink, report);
  sink.TaskFinished(report.outcome);
  return report;
}

TaskReport RunOnWorker(StopToken& stop, const std::function<TaskReport()>& task) {
  stop.Reset();
  TaskReport report;
  std::exception_ptr failure;
  std::thread worker([&] {
    try {
      report = task();
    } catch (...) {
      failure = std::current_exception();
    }
  });
  worker.join();
  if (failure) std::rethrow_exception(failure);
  return report;
}

Completion CompleteTask(StopToken& stop, ProcessLog& log, ProcessLogEntry& entry,
                        TaskOutcome outcome) {
  stop.RequestStop();
  switch (outcome) {
    case TaskOutcome::SaveCompleted:
      entry.description = "Processing Completed";
      log.Append(entry);
      return {"Saving of data completed.", false};
    case TaskOutcome::ImagingCompleted:
      return {"Imaging of logical drive completed.", false};
    case TaskOutcome::ImagingAborted:
      return {"Imaging of logical drive aborted.", true};
    case TaskOutcome::SaveAborted:
      entry.status = LOG_ABORTED;
      entry.description = "Processing Aborted";
      log.Append(entry);
      return {"Saving of data aborted.", true};
    case TaskOutcome::None:
      break;
  }
  return {};
}

}  // namespace restorix
