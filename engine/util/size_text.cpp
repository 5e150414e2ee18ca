#include "util/size_text.h"

#include <cstdio>

namespace restorix {

std::string SizeText(std::uint64_t bytes) {
  constexpr std::uint64_t kGB = 1073741824;
  constexpr std::uint64_t kMB = 1048576;
  char text[48];
  if (bytes >= kGB) {
    std::snprintf(text, sizeof text, "%.2f GB",
                  static_cast<double>(static_cast<float>(bytes) / kGB));
  } else {
    std::snprintf(text, sizeof text, "%.2f MB",
                  static_cast<double>(static_cast<float>(bytes) / kMB));
  }
  return text;
}

}  // namespace restorix
