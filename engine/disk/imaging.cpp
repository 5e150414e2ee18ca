#include "disk/imaging.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "disk/volume.h"
#include "platform/file_io.h"
#include "platform/storage.h"
#include "task.h"
#include "util/text.h"

namespace restorix {

namespace {

// Copies one step inside the kernel, padding with zeros past the end of the
// source. False (with the file positioned back at the step's start) when the
// step must be read and written the ordinary way: no such path, or a read
// error that the sector-by-sector read will narrow down.
bool CopyStep(const Volume& volume, int file, std::uint64_t sector, std::uint64_t bytes,
              std::uint64_t position, bool& inKernel) {
  if (!inKernel) return false;
  const int error = volume.CopySectors(file, sector, bytes);
  if (error == 0) {
    const std::uint64_t copied = static_cast<std::uint64_t>(::lseek(file, 0, SEEK_CUR)) - position;
    if (copied < bytes) {
      const std::vector<std::uint8_t> zeros(bytes - copied, 0);
      WriteOrAbort(file, zeros);
    }
    return true;
  }
  if (error == ENOTSUP || error == EINVAL) inKernel = false;
  ::lseek(file, static_cast<off_t>(position), SEEK_SET);
  return false;
}

}  // namespace

void ImageVolume(const Volume& volume, const std::filesystem::path& path, TaskControl task,
                 ImageResult& result) {
  if (!volume.isOpen()) {
    result.stop = ImageResult::Stop::SourceLost;
    return;
  }
  const std::string sourceName = Utf8FromUtf16(volume.sourceName());
  if (const auto shared = OutputOntoSource(path, volume.identity(), sourceName)) {
    result.stop = ImageResult::Stop::OntoSource;
    result.ontoSource = OntoSourceMessage(path.string(), sourceName, *shared);
    return;
  }
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    result.stop = ImageResult::Stop::NotAFile;
    return;
  }
  const std::uint64_t total = volume.context().totalSectors();
  const std::size_t blockBytes =
      std::size_t{kImageBlockSectors} * volume.context().bytesPerSector();
  // Blocks are moved several at a time: the image is the same, and fewer,
  // larger transfers keep imaging close to the speed of a plain copy.
  const std::uint64_t blocksPerStep = std::max<std::size_t>(1, kImageStepBytes / blockBytes);
  std::vector<std::uint8_t> buffer(blocksPerStep * blockBytes);
  int error = 0;
  UniqueFd file = CreateOutputFile(path, error);
  if (!file) {
    result.stop = ImageResult::Stop::CannotCreate;
    result.error = error;
    return;
  }
  result.created = true;

  bool inKernel = true;
  for (std::uint64_t sector = 0; sector < total && task.running();) {
    task.events.ScanProgress(sector, total);
    const std::uint64_t blocksLeft = (total - sector + kImageBlockSectors - 1) / kImageBlockSectors;
    const auto step = MutableBytes(buffer).first(std::min(blocksLeft, blocksPerStep) * blockBytes);
    const std::uint64_t position = result.sectorsWritten * volume.context().bytesPerSector();
    if (!CopyStep(volume, file.get(), sector, step.size(), position, inKernel)) {
      volume.ReadSectors(step, sector);
      WriteOrAbort(file.get(), step);
    }
    const std::uint64_t sectors = step.size() / volume.context().bytesPerSector();
    result.sectorsWritten += sectors;
    sector += sectors;
  }
  if (!task.running()) result.stop = ImageResult::Stop::Cancelled;
}

std::string DateStamp(const std::tm& local) {
  static constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar",  "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sept", "Oct", "Nov", "Dec"};
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02d-%s-%u", kWeekdays[(local.tm_wday % 7 + 7) % 7],
                local.tm_mday, kMonths[(local.tm_mon % 12 + 12) % 12],
                static_cast<unsigned>(local.tm_year + 1900));
  return text;
}

std::string ImageFileName(const std::tm& local) {
  return "QN_RSX_Image # " + DateStamp(local);
}

}  // namespace restorix
