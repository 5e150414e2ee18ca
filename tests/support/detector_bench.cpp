#include "support/detector_bench.h"

#include <algorithm>

#include "support/fake_source.h"
#include "support/test_support.h"

namespace restorix::test {

DetectorBench::DetectorBench(std::uint64_t sectors, std::uint32_t sectorSize)
    : bytes_(sectors * sectorSize, 0), sectorSize_(sectorSize) {
}

void DetectorBench::Place(std::uint64_t sector, const std::vector<std::uint8_t>& bytes) {
  const std::uint64_t at = sector * sectorSize_;
  if (at + bytes.size() > bytes_.size()) bytes_.resize(at + bytes.size(), 0);
  std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(at));
  opened_ = false;
}

void DetectorBench::Open() {
  volume = Volume::Open(SourceKind::PhysicalDisk, std::make_shared<FakeSource>(bytes_, sectorSize_),
                        u"bench")
               .volume;
  stop.Reset();
  opened_ = true;
}

std::uint32_t DetectorBench::Run(Detector detector, std::uint64_t sector, SignatureRecord record) {
  if (!opened_) Open();
  DetectorContext context{*volume, claims, stop};
  const std::uint32_t result = detector(context, sector, record);
  record_ = record;
  return result;
}

std::vector<std::uint8_t> Unit(const std::string& name) {
  return ReadFile(SourceFixture("carving-unit/" + name));
}

std::vector<std::uint8_t> With(std::vector<std::uint8_t> bytes, std::size_t at,
                               const std::vector<std::uint8_t>& patch) {
  bytes.resize(std::max(bytes.size(), at + patch.size()));
  std::copy(patch.begin(), patch.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
  return bytes;
}

}  // namespace restorix::test
