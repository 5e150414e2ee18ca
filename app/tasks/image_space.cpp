#include "tasks/image_space.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cerrno>

#include "util/bytes.h"

namespace restorix {

namespace {

// The folder the image goes in, or the nearest one above it that exists.
std::filesystem::path ExistingFolder(const std::filesystem::path& image) {
  std::filesystem::path folder = std::filesystem::absolute(image).parent_path();
  std::error_code ec;
  while (!std::filesystem::is_directory(folder, ec) && folder.has_relative_path())
    folder = folder.parent_path();
  return folder;
}

}  // namespace

ImageSpace CheckImageSpace(const std::filesystem::path& image, std::uint64_t sourceBytes) {
  ImageSpace space;
  struct statvfs stats {};
  if (::statvfs(ExistingFolder(image).c_str(), &stats) != 0) {
    space.error = errno;
    space.enough = true;
    return space;
  }
  std::uint64_t available = CheckedMul(stats.f_bavail, stats.f_frsize).value_or(UINT64_MAX);
  // A file that the image replaces gives its blocks back first.
  struct stat existing {};
  if (::stat(image.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
    const std::uint64_t held =
        CheckedMul(static_cast<std::uint64_t>(existing.st_blocks), 512).value_or(UINT64_MAX);
    available = CheckedAdd(available, held).value_or(UINT64_MAX);
  }
  space.available = available;
  space.enough = available >= sourceBytes;
  return space;
}

}  // namespace restorix
