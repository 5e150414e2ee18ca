// A sector source in memory whose reads can be made to fail at chosen byte
// ranges, or to report the device gone after a number of reads.
#pragma once

#include <cstdint>
#include <mutex>
#include <set>
#include <vector>

#include "disk/sector_source.h"

namespace restorix::test {

class FakeSource : public SectorSource {
 public:
  explicit FakeSource(std::vector<std::uint8_t> bytes, std::uint32_t sectorSize = 512)
      : bytes_(std::move(bytes)), sectorSize_(sectorSize) {}

  // Reads touching [offset, offset + length) fail with `error`.
  void FailRange(std::uint64_t offset, std::uint64_t length, int error);
  // Reads after `reads` successful ones fail with ENODEV (the device is gone).
  void LoseAfter(int reads) {
    const std::lock_guard lock(mutex_);
    loseAfter_ = reads;
  }

  // The first read that touches the byte at `offset` finds the device gone
  // (ENOTCONN, as a FUSE file system that went away), and so does every
  // read after it.
  void LoseAt(std::uint64_t offset) {
    const std::lock_guard lock(mutex_);
    loseAt_ = offset;
  }

  int ReadAt(MutableBytes buffer, std::uint64_t offset) override;
  std::uint64_t size() const override { return bytes_.size(); }
  std::uint32_t sectorSize() const override { return sectorSize_; }
  SourceIdentity identity() const override { return {}; }

  int reads() const {
    const std::lock_guard lock(mutex_);
    return reads_;
  }
  // Every read made: byte offset and length.
  const std::vector<std::pair<std::uint64_t, std::size_t>>& readLog() const { return readLog_; }
  std::vector<std::uint8_t>& bytes() { return bytes_; }

 private:
  struct Failure {
    std::uint64_t offset, length;
    int error;
  };
  mutable std::mutex mutex_;  // reads may come from two threads
  std::vector<std::uint8_t> bytes_;
  std::uint32_t sectorSize_;
  std::vector<Failure> failures_;
  int loseAfter_ = -1;
  std::uint64_t loseAt_ = UINT64_MAX;
  bool lost_ = false;
  int reads_ = 0;
  std::vector<std::pair<std::uint64_t, std::size_t>> readLog_;
};

}  // namespace restorix::test
