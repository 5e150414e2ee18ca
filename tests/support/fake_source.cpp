#include "support/fake_source.h"

#include <algorithm>
#include <cerrno>

namespace restorix::test {

void FakeSource::FailRange(std::uint64_t offset, std::uint64_t length, int error) {
  const std::lock_guard lock(mutex_);
  failures_.push_back({offset, length, error});
}

int FakeSource::ReadAt(MutableBytes buffer, std::uint64_t offset) {
  const std::lock_guard lock(mutex_);
  if (loseAfter_ >= 0 && reads_ >= loseAfter_) return ENODEV;
  if (offset <= loseAt_ && loseAt_ - offset < buffer.size()) lost_ = true;
  if (lost_) return ENOTCONN;
  ++reads_;
  readLog_.push_back({offset, buffer.size()});
  const std::uint64_t end = offset + buffer.size();
  for (const Failure& f : failures_) {
    if (offset < f.offset + f.length && f.offset < end) return f.error;
  }
  const std::size_t n =
      offset >= bytes_.size() ? 0 : std::min<std::uint64_t>(buffer.size(), bytes_.size() - offset);
  // An offset far past the end must not even be added to the start.
  if (n != 0) std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), n, buffer.begin());
  std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(n), buffer.end(), 0);
  return 0;
}

}  // namespace restorix::test
