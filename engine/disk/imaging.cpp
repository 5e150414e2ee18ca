#include "disk/imaging.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "engine.h"

namespace restorix {

namespace {

// Copies one step inside the kernel, padding with zeros past the end of the
// source. False (with the file positioned back at the step's start) when the
// step must be read and written the ordinary way: no such path, or a read
// error that the sector-by-sector read will narrow down.
bool CopyStep(Engine& engine, int file, std::uint64_t sector, std::uint64_t bytes,
              std::uint64_t position, bool& inKernel) {
  if (!inKernel) return false;
  const int error = engine.CopySectors(file, sector, bytes);
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

ImageResult ImageVolume(Engine& engine, const std::filesystem::path& path) {
  ImageResult result;
  if (!engine.source) {
    result.stop = ImageResult::Stop::SourceLost;
    return result;
  }
  if (WouldWriteOntoSource(path, engine.source->identity())) {
    result.stop = ImageResult::Stop::OntoSource;
    return result;
  }
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    result.stop = ImageResult::Stop::NotAFile;
    return result;
  }
  const std::uint64_t total = engine.context.totalSectors();
  const std::size_t blockBytes = std::size_t{kImageBlockSectors} * engine.context.bytesPerSector();
  // Blocks are moved several at a time: the image is the same, and fewer,
  // larger transfers keep imaging close to the speed of a plain copy.
  const std::uint64_t blocksPerStep = std::max<std::size_t>(1, kImageStepBytes / blockBytes);
  std::vector<std::uint8_t> buffer(blocksPerStep * blockBytes);
  int error = 0;
  UniqueFd file = CreateOutputFile(path, error);
  if (!file) {
    result.stop = ImageResult::Stop::CannotCreate;
    result.error = error;
    return result;
  }
  result.created = true;

  bool inKernel = true;
  try {
    for (std::uint64_t sector = 0; sector < total && engine.keepRunning != 0;) {
      engine.events().ScanProgress(sector, total);
      const std::uint64_t blocksLeft =
          (total - sector + kImageBlockSectors - 1) / kImageBlockSectors;
      const auto step =
          MutableBytes(buffer).first(std::min(blocksLeft, blocksPerStep) * blockBytes);
      const std::uint64_t position = result.sectorsWritten * engine.context.bytesPerSector();
      if (!CopyStep(engine, file.get(), sector, step.size(), position, inKernel)) {
        engine.ReadSectors(step, sector);
        WriteOrAbort(file.get(), step);
      }
      const std::uint64_t sectors = step.size() / engine.context.bytesPerSector();
      result.sectorsWritten += sectors;
      sector += sectors;
    }
  } catch (const DeviceLostError& lost) {
    const bool source = lost.side() == DeviceLostError::Side::Source;
    result.stop = source ? ImageResult::Stop::SourceLost : ImageResult::Stop::WriteFailed;
    result.error = lost.error();
    return result;
  }
  result.status = engine.keepRunning;
  if (result.status == 0) result.stop = ImageResult::Stop::Cancelled;
  return result;
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
