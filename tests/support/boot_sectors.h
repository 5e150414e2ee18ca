// Hand-made boot sectors shaped like the ones mkfs.fat, mkntfs and Windows
// write, for recognition tests and in-memory volumes.
#pragma once

#include <cstdint>
#include <vector>

namespace restorix::test {

using Sector = std::vector<std::uint8_t>;

void Put16(Sector& s, std::size_t offset, std::uint16_t value);
void Put32(Sector& s, std::size_t offset, std::uint32_t value);
void Put64(Sector& s, std::size_t offset, std::uint64_t value);

// A 100 MiB FAT16 volume: 4 sectors per cluster, 4 reserved, 200 per FAT.
Sector Fat16Boot();
// A 300 MiB FAT32 volume: 8 sectors per cluster, 32 reserved, 600 per FAT.
Sector Fat32Boot();

struct NtfsGeometry {
  std::uint16_t bytesPerSector = 512;
  std::uint8_t sectorsPerCluster = 8;
  std::uint64_t totalSectors = 518143;
  std::uint64_t mftCluster = 21589;
  std::uint64_t mftMirrorCluster = 2;
  std::uint8_t recordSizeByte = 0xF6;  // 2^10 bytes per MFT record
  std::uint8_t indexSizeByte = 1;      // one cluster per index record
  std::uint64_t serial = 0x0870803570802C0E;
};
Sector NtfsBoot(const NtfsGeometry& geometry = {});

}  // namespace restorix::test
