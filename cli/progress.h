// The progress line the command shows on stderr while a task runs, and the
// Ctrl-C handling that stops a task.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "task.h"

namespace restorix::cli {

class ProgressLine : public TaskEvents {
 public:
  // `unit` names what the totals count ("sectors", "records"); bytesPerUnit
  // turns them into a byte rate when nonzero.
  ProgressLine(std::string what, std::string unit, std::uint64_t bytesPerUnit);
  ~ProgressLine() override;
  void ScanProgress(std::uint64_t position, std::uint64_t total) override;
  void TaskPhase(std::uint32_t phase, std::uint32_t count) override;
  // Clears the line before other output.
  void Finish();

 private:
  bool enabled_;
  std::string what_;
  std::string unit_;
  std::uint64_t bytesPerUnit_;
  std::string phase_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastDraw_{};
  bool drawn_ = false;
};

// Installed first thing, so that a Ctrl-C while the program is still getting
// ready is counted instead of ending it: the first one stops the task (see
// below), a second one ends the program at once.
void CatchInterrupts();
// The first Ctrl-C stops `*stop`'s task so that it ends as aborted with what
// it found; nullptr detaches it before its owner goes away. Returns the
// token that was attached before.
StopToken* StopOnInterrupt(StopToken* stop);
// For work that only reads and prints (find, loading a scan file): while
// `ends`, the first Ctrl-C ends the program at once, as stopped (status
// 130), whatever it is doing.
void EndOnInterrupt(bool ends = true);
// Whether Ctrl-C was pressed: a task that starts afterwards (the program
// was still getting ready, or between two tasks) ends at once as aborted.
bool Interrupted();

}  // namespace restorix::cli
