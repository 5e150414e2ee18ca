// One run of a command as a sequence of tasks: the source, the tree, the process log
// and its current entry, the progress line, Ctrl-C, and --log FILE.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>

#include "catalogue/item_tree.h"
#include "disk/volume.h"
#include "progress.h"
#include "tasks/tasks.h"
#include "tree_output.h"

namespace restorix::cli {

// Where a task's events go on the command line: the progress line on
// stderr and the rows of the process log.
class CliSink : public TaskSink {
 public:
  CliSink(ProcessLog& log, std::string what, std::string unit, std::uint64_t bytesPerUnit)
      : log_(log), progress_(std::move(what), std::move(unit), bytesPerUnit) {}
  void ScanProgress(std::uint64_t position, std::uint64_t total) override {
    progress_.ScanProgress(position, total);
  }
  void TaskPhase(std::uint32_t phase, std::uint32_t count) override {
    progress_.TaskPhase(phase, count);
  }
  void LogEntry(const ProcessLogEntry& entry) override { log_.Append(entry); }
  void TaskFinished(TaskOutcome) override { progress_.Finish(); }

 private:
  ProcessLog& log_;
  ProgressLine progress_;
};

class Session {
 public:
  Session() { StopOnInterrupt(&stop); }
  ~Session() { StopOnInterrupt(nullptr); }

  // Runs a task on a worker thread with a progress line, then the owner's
  // completion step; prints the completion message, if any.
  TaskReport Run(const std::string& what, const std::string& unit, std::uint64_t bytesPerUnit,
                 const std::function<TaskReport(TaskSink&)>& task);

  // Appends the current entry to the log (what the wizard's pages do when a
  // source is chosen).
  void Log() { log.Append(entry); }

  // Saves the log to the --log file, if one was asked for; false (with a
  // message) when it cannot be written.
  bool SaveLog();

  // Whether the outputs and the --log file can be written without touching
  // the opened source; explains each one that cannot (the log is then not
  // saved). Checked before anything is scanned or written.
  bool OutputsClear(std::initializer_list<std::string> outputs);

  // The scan as the listing shows it.
  ScanView View() const;

  StopToken stop;
  // The opened source and what was found on it.
  std::shared_ptr<const Volume> volume;
  ItemTree tree;
  ProcessLog log;
  ProcessLogEntry entry;
  std::string logFile;
  // Messages go to stderr, so that stdout carries one JSON document.
  bool jsonOutput = false;
};

// The summary line of the sectors a task could not read, on standard error;
// nothing when there were none.
void PrintUnreadable(const std::vector<SectorRange>& ranges);

// --log FILE on a command.
void AddLogOption(CLI::App& command, std::string& file);

}  // namespace restorix::cli
