#include "disk/read_faults.h"

#include <algorithm>
#include <iterator>

namespace restorix {

std::uint64_t SectorCount(const std::vector<SectorRange>& ranges) {
  std::uint64_t total = 0;
  for (const SectorRange& range : ranges)
    total += range.count;
  return total;
}

void ReadFaults::Clear() {
  const std::lock_guard lock(mutex_);
  ranges_.clear();
  succeeded_ = 0;
  failedInARow_ = 0;
}

void ReadFaults::AddUnreadable(std::uint64_t first, std::uint64_t count) {
  if (count == 0) return;
  std::uint64_t end = first + count < first ? UINT64_MAX : first + count;
  const std::lock_guard lock(mutex_);
  // Join every range that overlaps or touches [first, end).
  auto at = ranges_.upper_bound(first);
  if (at != ranges_.begin() && std::prev(at)->second >= first) --at;
  while (at != ranges_.end() && at->first <= end) {
    first = std::min(first, at->first);
    end = std::max(end, at->second);
    at = ranges_.erase(at);
  }
  ranges_.emplace(first, end);
}

bool ReadFaults::NoteRead(bool ok) {
  const std::lock_guard lock(mutex_);
  if (ok) {
    ++succeeded_;
    failedInARow_ = 0;
    return false;
  }
  ++failedInARow_;
  return failedInARow_ >= kLostInARow || (succeeded_ == 0 && failedInARow_ >= kLostBeforeAnyRead);
}

std::vector<SectorRange> ReadFaults::unreadable() const {
  const std::lock_guard lock(mutex_);
  std::vector<SectorRange> out;
  out.reserve(ranges_.size());
  for (const auto& [first, end] : ranges_)
    out.push_back({first, end - first});
  return out;
}

}  // namespace restorix
