// Texts the front ends show for conditions the engine reports.
#pragma once

namespace restorix {

// A size typed outside 1 KB to 4 GB (file size of carved files, Find).
inline constexpr const char* kSizeRangeMessage = "Please provide value in range of 1KB to 4GB";
// The Signature file beside the program cannot be opened or read.
inline constexpr const char* kSignaturesMissing = "Failed to retrieve signatures information";
// A volume whose boot sector or file system cannot be read.
inline constexpr const char* kCorruptVolume =
    "Failed to open drive.\nCritical disk structures corrupted\nPlease use Advanced File Recovery.";
// A whole disk that cannot be read for Advanced File Recovery.
inline constexpr const char* kCorruptDisk =
    "Drive is severely corrupted, unable\nto process drive. Please contact support.";

}  // namespace restorix
