// What every long operation is given by the task that runs it: the stop
// token it polls between steps, and where it reports progress and phases.
#pragma once

#include <atomic>
#include <cstdint>

namespace restorix {

// The one stop request of a task. The owner sets it running when a task
// starts; the user's Stop (or Ctrl-C) and the task's end clear it. Long
// operations poll it between steps and return early once it is cleared. It
// is the only state that the task's thread and its owner both write.
class StopToken {
 public:
  bool running() const { return keepRunning_.load(std::memory_order_relaxed) != 0; }
  void RequestStop() { keepRunning_.store(0, std::memory_order_relaxed); }
  void Reset() { keepRunning_.store(1, std::memory_order_relaxed); }

 private:
  std::atomic<std::uint32_t> keepRunning_{1};
};

// What a running operation tells its owner. The desktop program delivers
// these to its user-interface thread and waits; the command line prints a
// progress line. The default implementation ignores everything.
class TaskEvents {
 public:
  virtual ~TaskEvents() = default;
  // Work done so far out of the total, in the producer's own units
  // (records, sectors, items).
  virtual void ScanProgress(std::uint64_t position, std::uint64_t total) {
    (void)position;
    (void)total;
  }
  virtual void TaskPhase(std::uint32_t phase, std::uint32_t count) {
    (void)phase;
    (void)count;
  }
};

// The stop token and the events of the task an operation runs in.
struct TaskControl {
  const StopToken& stop;
  TaskEvents& events;
  bool running() const { return stop.running(); }
};

}  // namespace restorix
