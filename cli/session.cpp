#include "session.h"

#include <iostream>

#include "source.h"

namespace restorix::cli {

TaskReport Session::Run(const std::string& what, const std::string& unit,
                        std::uint64_t bytesPerUnit,
                        const std::function<TaskReport(TaskSink&)>& task) {
  CliSink sink(log, what, unit, bytesPerUnit);
  const TaskReport report = RunOnWorker(engine, [&] {
    if (Interrupted()) engine.keepRunning = 0;
    return task(sink);
  });
  sink.TaskFinished(report.outcome);
  const Completion done = CompleteTask(engine, log, entry, report.outcome);
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

void AddLogOption(CLI::App& command, std::string& file) {
  command.add_option("--log", file, "Save the process log of this run to FILE");
}

}  // namespace restorix::cli
