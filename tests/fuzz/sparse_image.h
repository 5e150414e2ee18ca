// A disk image as a fuzz input: only the sectors that matter, so that a
// volume of many megabytes fits in a few kilobytes and the fuzzer mutates
// its structures rather than its empty space. The input is the image's
// length in 512-byte sectors (4 bytes, little-endian), then any number of
// records of a sector number (4 bytes) and that sector's 512 bytes; every
// other sector reads as zeros, and a later record of a sector wins.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "overlay_source.h"
#include "util/bytes.h"

namespace restorix::test {

inline constexpr std::size_t kSparseSector = 512;

// The source the input describes, at most `maxSectors` long; the bytes it
// keeps are the input's own, which must outlive it.
inline std::shared_ptr<OverlaySource> SparseImage(Bytes input, std::uint32_t maxSectors) {
  const std::uint32_t sectors = input.size() >= 4 ? std::min(le32(input, 0), maxSectors) : 0;
  auto source = std::make_shared<OverlaySource>(Bytes{}, std::uint64_t{sectors} * kSparseSector);
  for (std::size_t at = 4; at + 4 <= input.size(); at += 4 + kSparseSector) {
    const std::uint32_t sector = le32(input, at);
    if (sector >= sectors) continue;
    const Bytes bytes = input.subspan(at + 4, std::min(kSparseSector, input.size() - at - 4));
    source->Put(sector, bytes);
  }
  return source;
}

// The input for an image of `sectors` sectors that holds `kept`, the
// sectors wanted, in order (`image` holds every byte of the image).
inline std::vector<std::uint8_t> SparseInput(Bytes image, const std::vector<std::uint32_t>& kept) {
  std::vector<std::uint8_t> out;
  const auto put32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
      out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  put32(static_cast<std::uint32_t>(image.size() / kSparseSector));
  for (const std::uint32_t sector : kept) {
    put32(sector);
    const Bytes bytes = image.subspan(std::size_t{sector} * kSparseSector, kSparseSector);
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
  return out;
}

}  // namespace restorix::test
