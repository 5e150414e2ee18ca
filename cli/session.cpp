#include "session.h"

#include <iostream>

#include "source.h"

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
  std::cerr << kLogSaveFailed << "\n";
  PrintError("the process log could not be written to '" + logFile + "'");
  return false;
}

ScanView Session::View() const {
  static const std::u16string kNoSource;
  return {volume ? volume->sourceName() : kNoSource,
          volume ? volume->context().fsType() : FsType::None, tree.root(),
          volume ? volume->context().totalSectors() : 0, volume ? volume->claimedSectors() : 0};
}

void AddLogOption(CLI::App& command, std::string& file) {
  command.add_option("--log", file, "Save the process log of this run to FILE");
}

}  // namespace restorix::cli
