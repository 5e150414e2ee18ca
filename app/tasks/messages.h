// Texts the front ends show for conditions the engine reports.
#pragma once

namespace restorix {

// A size typed outside 1 KB to 4 GB (file size of carved files, Find).
inline constexpr const char* kSizeRangeMessage = "Please provide value in range of 1KB to 4GB";
// The Signature file beside the program cannot be opened or read.
inline constexpr const char* kSignaturesMissing = "Failed to retrieve signatures information";

}  // namespace restorix
