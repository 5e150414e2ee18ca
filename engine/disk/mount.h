// Recognising the file system from a volume's boot sector, and locating the
// NTFS master file table.
#pragma once

#include <functional>
#include <optional>
#include <string>
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

// Reads bytes at a byte offset from the start of a volume; what cannot be
// read is zeros.
using VolumeBytesReader = std::function<void(std::uint64_t offset, MutableBytes buffer)>;

// exFAT keeps its boot region twice: the main one at sector 0 and the backup
// at sector 12, in the volume's own sector size.
inline constexpr std::uint64_t kExfatRegionSectors = 12;

// The context of the exFAT boot region that starts at sector `firstSector`
// (0 or kExfatRegionSectors) of `sectorBytes` bytes: its boot sector is an
// exFAT one with that sector size, its geometry fits in the volume it
// claims, and the region passes its checksum. nullopt otherwise.
std::optional<VolumeContext> ReadExfatBootRegion(const VolumeBytesReader& read,
                                                 std::uint64_t firstSector,
                                                 std::uint32_t sectorBytes);

// Whether the first cluster of the root folder of the exFAT volume
// `context` holds what every exFAT root holds: an allocation bitmap and an
// up-case table inside the cluster heap. Sets `label` from the volume label
// entry, when there is one.
bool ExfatRootFolderOk(const VolumeBytesReader& read, const VolumeContext& context,
                       std::u16string& label);

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
