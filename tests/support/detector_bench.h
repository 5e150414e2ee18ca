// A raw source in memory to run file-type detectors on: place a file's bytes
// at a sector, call a detector at that sector, look at the record.
#pragma once

#include <cstdint>
#include <vector>

#include "disk/volume.h"
#include "signature/detectors/detectors.h"

namespace restorix::test {

class DetectorBench {
 public:
  // A whole-disk source of `sectors` sectors of `sectorSize` bytes, zeros.
  explicit DetectorBench(std::uint64_t sectors = 8192, std::uint32_t sectorSize = 512);

  // Writes bytes into the source at a sector (before Open or after).
  void Place(std::uint64_t sector, const std::vector<std::uint8_t>& bytes);
  // Opens the source with what was placed; called by Run when needed.
  void Open();

  // Runs `detector` at `sector` on a fresh copy of `record` and returns the
  // result; the record as the detector left it is in `record()`.
  std::uint32_t Run(Detector detector, std::uint64_t sector, SignatureRecord record = {});
  const SignatureRecord& record() const { return record_; }

  std::shared_ptr<const Volume> volume;
  StopToken stop;
  ClaimedSectors claims;

 private:
  std::vector<std::uint8_t> bytes_;
  std::uint32_t sectorSize_;
  bool opened_ = false;
  SignatureRecord record_;
};

// A whole file of tests/fixtures/carving-unit.
std::vector<std::uint8_t> Unit(const std::string& name);

// `bytes` with `patch` written over it at `at` (grown to hold it).
std::vector<std::uint8_t> With(std::vector<std::uint8_t> bytes, std::size_t at,
                               const std::vector<std::uint8_t>& patch);

}  // namespace restorix::test
