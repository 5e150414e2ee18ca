// A source in memory made of a base that is never copied (zeros past its
// end) and patches laid over it, later ones over earlier ones. The fuzz
// targets build a volume per input this way: copying a whole base image for
// every input would cost more than parsing it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "disk/sector_source.h"

namespace restorix::test {

class OverlaySource : public SectorSource {
 public:
  // `base` must outlive the source.
  OverlaySource(Bytes base, std::uint64_t size, std::uint32_t sectorSize = 512)
      : base_(base), size_(size), sectorSize_(sectorSize) {}

  // `bytes` must outlive the source.
  void Put(std::uint64_t offset, Bytes bytes) { patches_.emplace_back(offset, bytes); }

  int ReadAt(MutableBytes buffer, std::uint64_t offset) override {
    std::fill(buffer.begin(), buffer.end(), 0);
    if (offset >= size_) return 0;
    Copy(base_, 0, buffer, offset);
    for (const auto& [at, bytes] : patches_)
      Copy(bytes, at, buffer, offset);
    return 0;
  }
  std::uint64_t size() const override { return size_; }
  std::uint32_t sectorSize() const override { return sectorSize_; }
  SourceIdentity identity() const override { return {}; }

 private:
  // Copies the part of `from` (which lies at byte `at`) that overlaps the
  // buffer read at `offset`.
  static void Copy(Bytes from, std::uint64_t at, MutableBytes buffer, std::uint64_t offset) {
    const std::uint64_t begin = std::max(at, offset);
    const std::uint64_t end = std::min(at + from.size(), offset + buffer.size());
    if (begin >= end) return;
    std::copy_n(from.begin() + static_cast<std::ptrdiff_t>(begin - at), end - begin,
                buffer.begin() + static_cast<std::ptrdiff_t>(begin - offset));
  }

  Bytes base_;
  std::uint64_t size_;
  std::uint32_t sectorSize_;
  std::vector<std::pair<std::uint64_t, Bytes>> patches_;
};

}  // namespace restorix::test
