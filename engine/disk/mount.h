// Recognising the file system from a volume's boot sector, and locating the
// NTFS master file table.
#pragma once

#include <optional>
#include <vector>

#include "disk/volume_context.h"
#include "fs/ntfs_record.h"
#include "util/bytes.h"

namespace restorix {

class Volume;

// The recognition tests on one 512-byte boot sector.
bool LooksLikeFat16(Bytes boot);
bool LooksLikeFat32(Bytes boot);
bool LooksLikeNtfs(Bytes boot);
bool LooksLikeExfat(Bytes boot);
// The exFAT boot region (`region`: its first 12 sectors) against its
// checksum sector, the 12th.
bool ExfatBootRegionOk(Bytes region, std::uint32_t sectorBytes);

// Sectors per MFT or index record from the signed byte at 0x40 or 0x44: a
// count of clusters when positive, 2^-v bytes when negative. 0 when the value
// is unusable.
std::uint8_t RecordSectors(std::int8_t encoded, std::uint8_t sectorsPerCluster,
                           std::uint16_t bytesPerSector);

// The volume context of a volume whose boot sector is `boot`, for a volume
// starting at sector 0; nullopt when it is no FAT16, FAT32, exFAT or NTFS boot
// sector.
std::optional<VolumeContext> RecogniseVolume(Bytes boot);

struct MftLocation {
  std::vector<RunNode> runs;
  std::uint32_t recordCount = 0;
};

// Where the master file table of a mounted NTFS volume lies, from MFT record
// 0 (or its mirror); nullopt when its runs cannot be found.
std::optional<MftLocation> LocateMft(const Volume& volume);

}  // namespace restorix
