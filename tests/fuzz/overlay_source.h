// A source in memory made of a base that is never copied (zeros past its
// end) and sectors laid over it, later ones over earlier ones. The fuzz
// targets build a volume per input this way: copying a whole base image for
// every input would cost more than parsing it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>

#include "disk/sector_source.h"

namespace restorix::test {

class OverlaySource : public SectorSource {
 public:
  static constexpr std::uint32_t kSector = 512;

  // `base` must outlive the source.
  OverlaySource(Bytes base, std::uint64_t size) : base_(base), size_(size) {}

  // Lays `bytes` over the source from the start of `sector` on; the bytes
  // must outlive the source.
  void Put(std::uint64_t sector, Bytes bytes) {
    for (std::size_t at = 0; at < bytes.size(); at += kSector, ++sector)
      sectors_.insert_or_assign(
          sector, bytes.subspan(at, std::min<std::size_t>(kSector, bytes.size() - at)));
  }

  int ReadAt(MutableBytes buffer, std::uint64_t offset) override {
    std::fill(buffer.begin(), buffer.end(), 0);
    if (offset >= size_) return 0;
    Copy(base_, 0, buffer, offset);
    const std::uint64_t end = offset + buffer.size();
    for (auto it = sectors_.lower_bound(offset / kSector);
         it != sectors_.end() && it->first * kSector < end; ++it)
      Copy(it->second, it->first * kSector, buffer, offset);
    return 0;
  }
  std::uint64_t size() const override { return size_; }
  std::uint32_t sectorSize() const override { return kSector; }
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
  std::map<std::uint64_t, Bytes> sectors_;
};

}  // namespace restorix::test
