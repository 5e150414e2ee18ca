#include "session.h"

#include <iostream>

#include "platform/storage.h"
#include "source.h"
#include "util/text.h"

namespace restorix::cli {

TaskReport Session::Run(const std::string& what, const std::string& unit,
                        std::uint64_t bytesPerUnit,
                        const std::function<TaskReport(TaskSink&)>& task) {
  CliSink sink(log, what, unit, bytesPerUnit);
  const TaskReport report = RunOnWorker(stop, [&] {
    if (Interrupted()) stop.RequestStop();
    return task(sink);
  });
  sink.TaskFinished(report.outcome);
  const Completion done = CompleteTask(stop, log, entry, report.outcome);
  if (!done.message.empty())
    (done.error || jsonOutput ? std::cerr : std::cout) << done.message << "\n";
  return report;
}

bool Session::SaveLog() {
  if (logFile.empty()) return true;
  if (log.Save(logFile)) return true;
  PrintMessage(kLogSaveFailed);
  PrintError("the process log could not be written to '" + logFile + "'");
  return false;
}

bool Session::OutputsClear(std::initializer_list<std::string> outputs) {
  const std::string source = Utf8FromUtf16(volume->sourceName());
  const auto clear = [&](const std::string& output) {
    if (output.empty()) return true;
    const auto shared = OutputOntoSource(output, volume->identity(), source);
    if (shared)
      PrintError(OntoSourceMessage(output, source, *shared) + "; choose a place on another disk");
    return !shared;
  };
  bool all = true;
  for (const std::string& output : outputs)
    all = clear(output) && all;
  if (!clear(logFile)) {
    logFile.clear();
    all = false;
  }
  return all;
}

ScanView Session::View() const {
  static const std::u16string kNoSource;
  return {volume ? volume->sourceName() : kNoSource,
          volume ? volume->context().fsType() : FsType::None, tree.root(),
          volume ? volume->context().totalSectors() : 0, volume ? volume->claimedSectors() : 0};
}

void PrintUnreadable(const std::vector<SectorRange>& ranges) {
  if (ranges.empty()) return;
  const ProcessLogEntry row = UnreadableEntry(ranges, LOG_COMPLETED);
  PrintMessage(row.processName + " (read as zeros). " + row.description);
}

void AddLogOption(CLI::App& command, std::string& file) {
  command.add_option("--log", file, "Save the process log of this run to FILE");
}

}  // namespace restorix::cli
