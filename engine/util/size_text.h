// How sizes are shown to the user: binary multiples (KB = 1024).
#pragma once

#include <cstdint>
#include <string>

namespace restorix {

// "%.2f GB" from 1 GB up, else "%.2f MB" (so 1073741823 bytes is 1024.00 MB).
std::string SizeText(std::uint64_t bytes);

}  // namespace restorix
