// Whether an image of a volume fits where it is to be made. Both front ends
// check this before imaging starts, so that a full disk is found before an
// hour of copying rather than after it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace restorix {

inline constexpr const char* kInsufficientSpace =
    "Insufficient disk space to create disk image.\nPlease choose different location.";

struct ImageSpace {
  // Bytes this user may still write on the file system that would hold the
  // image, counting those of the file it would replace; unset when that
  // cannot be told (error holds the errno).
  std::optional<std::uint64_t> available;
  int error = 0;
  // The source's size fits (exactly as many bytes as it holds are
  // enough), or the free space cannot be told and the copy itself will say.
  bool enough = false;
};

// `sourceBytes` is the size of the volume to be imaged.
ImageSpace CheckImageSpace(const std::filesystem::path& image, std::uint64_t sourceBytes);

}  // namespace restorix
