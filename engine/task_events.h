// What a running task tells its owner. The desktop program delivers these to
// its user-interface thread and waits; the command line prints a progress
// line. The default implementation ignores everything.
#pragma once

#include <cstdint>

namespace restorix {

class TaskEvents {
 public:
  virtual ~TaskEvents() = default;
  // Work done so far out of the total, in the producer's own units (records,
  // sectors, items).
  virtual void ScanProgress(std::uint64_t position, std::uint64_t total) {
    (void)position;
    (void)total;
  }
  virtual void TaskPhase(std::uint32_t phase, std::uint32_t count) {
    (void)phase;
    (void)count;
  }
};

}  // namespace restorix
