// What went wrong reading a source during one task: which sectors could not
// be read, and whether the source has failed so often that it is taken for
// gone. Shared by the threads that read one source; the task that starts
// clears it, and reports it when it ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "task.h"

namespace restorix {

// Sectors [first, first + count).
struct SectorRange {
  std::uint64_t first = 0;
  std::uint64_t count = 0;
  bool operator==(const SectorRange&) const = default;
};

// The sum of the ranges' counts.
std::uint64_t SectorCount(const std::vector<SectorRange>& ranges);

// A source is taken for gone when the first kLostBeforeAnyRead reads of a
// task all fail, or when kLostInARow reads fail one after another at any
// time (8 MiB of 512-byte sectors read one by one: far beyond a bad spot).
inline constexpr std::uint64_t kLostBeforeAnyRead = 256;
inline constexpr std::uint64_t kLostInARow = 16384;

class ReadFaults {
 public:
  void Clear();
  // While a task runs: its stop token, which the sector-by-sector retries of
  // a failed read poll between sectors (a dying disk can take seconds over
  // each); nullptr once it ends.
  void Watch(const StopToken* stop) { stop_.store(stop); }
  bool stopped() const {
    const StopToken* stop = stop_.load();
    return stop != nullptr && !stop->running();
  }
  // Records that sectors [first, first + count) could not be read.
  void AddUnreadable(std::uint64_t first, std::uint64_t count);
  // Notes how one read of the source went; true when the source must now be
  // taken for gone.
  bool NoteRead(bool ok);

  // The unreadable sectors, in order, touching ranges merged.
  std::vector<SectorRange> unreadable() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::uint64_t, std::uint64_t> ranges_;  // first -> end
  std::uint64_t succeeded_ = 0;
  std::uint64_t failedInARow_ = 0;
  std::atomic<const StopToken*> stop_{nullptr};
};

}  // namespace restorix
