// An NTFS volume in memory for scan and reader tests: 512-byte sectors,
// 1 KiB records, the MFT at cluster 16 (its own record 0 written for it),
// its mirror at cluster 8.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "disk/volume.h"
#include "support/fake_source.h"
#include "support/mft_builder.h"

namespace restorix::test {

class MemoryNtfsVolume {
 public:
  static constexpr std::uint64_t kMftCluster = 16;
  static constexpr std::uint64_t kMirrorCluster = 8;

  // `mftClusters` clusters of MFT, so clusters x spc / 2 records.
  explicit MemoryNtfsVolume(std::uint8_t sectorsPerCluster = 8, std::uint64_t mftClusters = 16,
                            std::size_t bytes = 8 << 20);

  std::uint32_t clusterBytes() const { return 512u * spc_; }
  // The absolute sector of MFT record `number`.
  std::uint64_t RecordSector(std::uint32_t number) const {
    return kMftCluster * spc_ + 2u * number;
  }
  void Record(std::uint32_t number, const std::vector<std::uint8_t>& record);
  // Replaces MFT record 0 (to give the MFT other runs).
  void Cluster(std::uint64_t cluster, const std::vector<std::uint8_t>& data);
  void Place(std::uint64_t byte, const std::vector<std::uint8_t>& data);

  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  std::shared_ptr<FakeSource> Source() const;
  // Opens a copy of the volume; `source` receives the fake source to inject
  // faults into.
  OpenResult Open(FakeSource** source = nullptr) const;

 private:
  std::uint8_t spc_;
  std::vector<std::uint8_t> bytes_;
};

// A file record: standard information, one file name, then the attributes
// the caller adds. Flags: 0 deleted file, 1 live file, 2 deleted folder,
// 3 live folder.
MftRecordBuilder FileRecord(std::uint16_t flags, std::uint64_t parent, const std::u16string& name,
                            std::uint64_t created = 0x01D8000000000000ull);

}  // namespace restorix::test
