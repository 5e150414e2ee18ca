#include <algorithm>

#include "disk/volume.h"
#include "signature/detectors/detector.h"

namespace restorix {

SourceBytes::SourceBytes(const Volume& volume, std::uint64_t hit, std::uint32_t blockSectors)
    : volume_(volume),
      hit_(hit),
      sectorBytes_(volume.context().bytesPerSector()),
      blockSectors_(blockSectors) {
}

std::uint64_t SourceBytes::sectorsLeft() const {
  const std::uint64_t total = volume_.context().totalSectors();
  return hit_ < total ? total - hit_ : 0;
}

void SourceBytes::Load(std::uint64_t sector) {
  block_.assign(std::size_t{blockSectors_} * sectorBytes_, 0);
  blockStart_ = sector * sectorBytes_;
  const auto absolute = CheckedAdd(hit_, sector);
  if (absolute) volume_.ReadSectors(block_, *absolute);
}

Bytes SourceBytes::Run(std::uint64_t pos, std::size_t min) {
  if (sectorBytes_ == 0) return {};
  min = std::min<std::size_t>(min, std::size_t{blockSectors_} * sectorBytes_ - sectorBytes_);
  if (block_.empty() || pos < blockStart_ || pos - blockStart_ > block_.size() - min) {
    Load(pos / sectorBytes_);
  }
  return Bytes(block_).subspan(static_cast<std::size_t>(pos - blockStart_));
}

Bytes SourceBytes::Get(std::uint64_t pos, std::size_t length) {
  const Bytes run = Run(pos, length);
  if (run.size() >= length) return run.first(length);
  scratch_.fill(0);
  return Bytes(scratch_).first(length);
}

void SourceBytes::Read(std::uint64_t pos, MutableBytes out) {
  while (!out.empty()) {
    const Bytes run = Run(pos);
    if (run.empty()) {
      std::fill(out.begin(), out.end(), 0);
      return;
    }
    const std::size_t n = std::min(run.size(), out.size());
    std::copy_n(run.begin(), n, out.begin());
    out = out.subspan(n);
    pos += n;
  }
}

bool SourceBytes::Matches(std::uint64_t pos, std::string_view text) {
  const Bytes run = Run(pos, text.size());
  return run.size() >= text.size() &&
         std::equal(text.begin(), text.end(), run.begin(),
                    [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

}  // namespace restorix
