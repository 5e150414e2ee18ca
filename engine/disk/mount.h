// Recognising the file system from a volume's boot sector, and locating the
// NTFS master file table.
#pragma once

#include "util/bytes.h"

namespace restorix {

class Engine;
class VolumeContext;

// The recognition tests on one 512-byte boot sector.
bool LooksLikeFat16(Bytes boot);
bool LooksLikeFat32(Bytes boot);
bool LooksLikeNtfs(Bytes boot);

// Sectors per MFT or index record from the signed byte at 0x40 or 0x44: a
// count of clusters when positive, 2^-v bytes when negative. 0 when the value
// is unusable.
std::uint8_t RecordSectors(std::int8_t encoded, std::uint8_t sectorsPerCluster,
                           std::uint16_t bytesPerSector);

// Reads the boot sector at firstSector (then altBootSector when that is set
// and the first is not recognised) and fills the volume context. False when
// no FAT16, FAT32 or NTFS boot sector is found or the device is lost.
bool MountVolume(Engine& engine);

// Fills mftRuns and mftRecordCount from MFT record 0 (or its mirror) of a
// mounted NTFS volume; true when the MFT's runs were found.
bool MountNtfs(Engine& engine);

}  // namespace restorix
