#include "disk/imaging.h"

#include <cstdio>
#include <vector>

#include "engine.h"

namespace restorix {

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
  std::vector<std::uint8_t> block(std::size_t{kImageBlockSectors} * engine.context.bytesPerSector());
  int error = 0;
  UniqueFd file = CreateOutputFile(path, error);
  if (!file) {
    result.stop = ImageResult::Stop::CannotCreate;
    result.error = error;
    return result;
  }
  result.created = true;

  try {
    for (std::uint64_t sector = 0; sector < total && engine.keepRunning != 0;
         sector += kImageBlockSectors) {
      engine.events().ScanProgress(sector, total);
      std::fill(block.begin(), block.end(), 0);
      engine.ReadSectors(block, sector);
      WriteOrAbort(file.get(), block);
      result.sectorsWritten += kImageBlockSectors;
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
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr",  "May", "Jun",
                                            "Jul", "Aug", "Sept", "Oct", "Nov", "Dec"};
  char text[40];
  std::snprintf(text, sizeof text, "%s, %02d-%s-%u", kWeekdays[(local.tm_wday % 7 + 7) % 7],
                local.tm_mday, kMonths[(local.tm_mon % 12 + 12) % 12],
                static_cast<unsigned>(local.tm_year + 1900));
  return text;
}

std::string ImageFileName(const std::tm& local) { return "QN_RSX_Image # " + DateStamp(local); }

}  // namespace restorix
