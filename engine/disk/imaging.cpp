#include "disk/imaging.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <optional>
#include <vector>

#include "disk/rescue_map.h"
#include "disk/volume.h"
#include "platform/file_io.h"
#include "platform/storage.h"
#include "task.h"
#include "util/text.h"

namespace restorix {

namespace {

// One run of the rescue over the volume's bytes [0, volumeBytes); the map
// covers the whole image, whose tail past the volume is zeros.
class Rescue {
 public:
  Rescue(const Volume& volume, int file, RescueMap& map, std::filesystem::path mapPath,
         TaskControl task)
      : volume_(volume),
        file_(file),
        map_(map),
        mapPath_(std::move(mapPath)),
        task_(task),
        sectorBytes_(volume.context().bytesPerSector()),
        volumeBytes_(volume.context().totalSectors() * sectorBytes_),
        buffer_(std::max<std::uint64_t>(kImageStepBytes, kRescueClusterSectors * sectorBytes_)) {}

  // The passes, each one over what the ones before left; false when stopped.
  bool Run() {
    if (map_.phase == RescuePhase::Copying) {
      if (map_.pass <= 1 && !Copy(true)) return false;
      map_.pass = 2;
      if (!Copy(false)) return false;
      map_.phase = RescuePhase::Trimming;
    }
    if (map_.phase == RescuePhase::Trimming) {
      if (!Trim()) return false;
      map_.phase = RescuePhase::Scraping;
    }
    if (map_.phase == RescuePhase::Scraping) {
      if (!Scrape()) return false;
    }
    map_.phase = RescuePhase::Finished;
    map_.currentPosition = 0;
    return true;
  }

  // Puts the map on disk. The image's bytes are not flushed first: a stopped
  // or crashed program leaves what it wrote in the system's cache, and
  // flushing every few seconds would tie the copy to the disk's write speed.
  // A write that fails ends the run as a failed output.
  void SaveMap() {
    if (const int error = SaveRescueMap(map_, mapPath_)) {
      throw DeviceLostError(DeviceLostError::Side::Output, error);
    }
    lastSave_ = std::chrono::steady_clock::now();
  }

 private:
  // The first and second copying passes. The first copies whole steps inside
  // the kernel where it can, and skips ahead past a failed cluster; the
  // second reads what was skipped, cluster by cluster.
  bool Copy(bool first) {
    const std::uint64_t clusterBytes = std::uint64_t{kRescueClusterSectors} * sectorBytes_;
    const std::uint64_t stepBytes = kImageStepBytes / sectorBytes_ * sectorBytes_;
    const std::uint64_t maxSkip =
        std::max(kRescueFirstSkipBytes, volumeBytes_ / 100 / sectorBytes_ * sectorBytes_);
    std::uint64_t skip = 0;
    std::uint64_t clustersUntil = 0;  // a failed step is read by clusters up to here
    std::uint64_t position = first ? map_.currentPosition : 0;
    while (task_.running()) {
      const auto block = map_.Next(position, BlockStatus::Untried);
      if (!block || block->position >= volumeBytes_) return true;
      position = block->position;
      const std::uint64_t end = std::min(block->position + block->size, volumeBytes_);
      Progress(position);
      if (first && skip == 0 && position >= clustersUntil) {
        const std::uint64_t length = std::min(stepBytes, end - position);
        if (CopyInKernel(position, length)) {
          map_.Set(position, length, BlockStatus::Finished);
          position += length;
          continue;
        }
        clustersUntil = position + length;
      }
      const std::uint64_t length = std::min(clusterBytes, end - position);
      if (ReadAndWrite(position, length)) {
        map_.Set(position, length, BlockStatus::Finished);
        skip = 0;
        position += length;
        continue;
      }
      map_.Set(position, length, BlockStatus::NonTrimmed);
      position += length;
      if (first) {
        skip = skip == 0 ? kRescueFirstSkipBytes : std::min(skip * 2, maxSkip);
        position += skip;
      }
    }
    return false;
  }

  // Reads each failed cluster sector by sector from its start until a
  // sector fails, then from its end back until one fails; what lies between
  // is left for scraping.
  bool Trim() {
    std::uint64_t position = 0;
    while (task_.running()) {
      const auto block = map_.Next(position, BlockStatus::NonTrimmed);
      if (!block) return true;
      std::uint64_t low = block->position;
      std::uint64_t high = block->position + block->size;
      Progress(low);
      while (low < high && task_.running()) {
        const bool good = Sector(low);
        low += sectorBytes_;
        if (!good) break;
      }
      while (high > low && task_.running()) {
        const bool good = Sector(high - sectorBytes_);
        high -= sectorBytes_;
        if (!good) break;
      }
      if (!task_.running()) return false;
      map_.Set(low, high - low, BlockStatus::NonScraped);
      position = block->position + block->size;
    }
    return false;
  }

  // Reads every sector left between trimmed edges.
  bool Scrape() {
    std::uint64_t position = 0;
    while (task_.running()) {
      const auto block = map_.Next(position, BlockStatus::NonScraped);
      if (!block) return true;
      position = block->position;
      Progress(position);
      Sector(position);
      position += sectorBytes_;
    }
    return false;
  }

  // Reads one sector and marks it copied or bad.
  bool Sector(std::uint64_t position) {
    const bool good = ReadAndWrite(position, sectorBytes_, false);
    map_.Set(position, sectorBytes_, good ? BlockStatus::Finished : BlockStatus::Bad);
    return good;
  }

  // One read of [position, position + length) into the image at the same
  // place; false when the read failed (nothing is then written). Only the
  // failures of the copying passes count towards taking the source for
  // lost: trimming and scraping read where reads failed before, and fail
  // there in long runs on a source that is alive; nor do the sectors that
  // an image being imaged again lacks (its map's, ENODATA).
  bool ReadAndWrite(std::uint64_t position, std::uint64_t length, bool untried = true) {
    const MutableBytes data = MutableBytes(buffer_).first(length);
    const int error = volume_.ReadSectorsOnce(data, position / sectorBytes_);
    const bool counts = error == 0 || (untried && error != ENODATA);
    if (counts && volume_.faults().NoteRead(error == 0)) {
      throw DeviceLostError(DeviceLostError::Side::Source, error);
    }
    if (error != 0) return false;
    Seek(position);
    WriteOrAbort(file_, data);
    return true;
  }

  // Copies a step inside the kernel; false (the step then goes the ordinary
  // way) when there is no such path or the read failed.
  bool CopyInKernel(std::uint64_t position, std::uint64_t length) {
    if (!inKernel_) return false;
    Seek(position);
    const int error = volume_.CopySectors(file_, position / sectorBytes_, length);
    if (error == ENOTSUP || error == EINVAL) inKernel_ = false;
    return error == 0;
  }

  void Seek(std::uint64_t position) {
    if (::lseek(file_, static_cast<off_t>(position), SEEK_SET) < 0) {
      throw DeviceLostError(DeviceLostError::Side::Output, errno);
    }
  }

  // Reports the position, and saves the map when it is due.
  void Progress(std::uint64_t position) {
    map_.currentPosition = position;
    task_.events.ScanProgress(position / sectorBytes_, volumeBytes_ / sectorBytes_);
    if (std::chrono::steady_clock::now() - lastSave_ >=
        std::chrono::seconds(kRescueMapSaveSeconds)) {
      SaveMap();
    }
  }

  const Volume& volume_;
  int file_;
  RescueMap& map_;
  std::filesystem::path mapPath_;
  TaskControl task_;
  std::uint64_t sectorBytes_;
  std::uint64_t volumeBytes_;
  std::vector<std::uint8_t> buffer_;
  bool inKernel_ = true;
  std::chrono::steady_clock::time_point lastSave_ = std::chrono::steady_clock::now();
};

// What the map says of the volume's sectors: copied, and failed at least once.
void Summarise(const RescueMap& map, std::uint64_t sectorBytes, std::uint64_t volumeSectors,
               ImageResult& result) {
  result.sectorsRescued = 0;
  result.unreadable.clear();
  for (const RescueBlock& block : map.blocks()) {
    const std::uint64_t first = block.position / sectorBytes;
    if (first >= volumeSectors) break;
    const std::uint64_t count = std::min(block.size / sectorBytes, volumeSectors - first);
    if (block.status == BlockStatus::Finished) {
      result.sectorsRescued += count;
    } else if (block.status != BlockStatus::Untried) {
      // Bad sectors and those still to be trimmed or scraped are one range.
      SectorRange* last = result.unreadable.empty() ? nullptr : &result.unreadable.back();
      if (last != nullptr && last->first + last->count == first) {
        last->count += count;
      } else {
        result.unreadable.push_back({first, count});
      }
    }
  }
}

}  // namespace

void ImageVolume(const Volume& volume, const std::filesystem::path& path, TaskControl task,
                 ImageResult& result, bool resume) {
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
  const std::uint64_t sectorBytes = volume.context().bytesPerSector();
  const std::uint64_t total = volume.context().totalSectors();
  const std::uint64_t imageSectors =
      (total + kImageBlockSectors - 1) / kImageBlockSectors * kImageBlockSectors;
  const std::filesystem::path mapPath = RescueMapPath(path);

  std::optional<RescueMap> map;
  UniqueFd file;
  if (resume) {
    map = LoadRescueMap(mapPath);
    if (!std::filesystem::is_regular_file(status) || !map ||
        map->size() != imageSectors * sectorBytes) {
      result.stop = ImageResult::Stop::NoMap;
      return;
    }
    file.reset(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
    if (!file) {
      result.stop = ImageResult::Stop::CannotCreate;
      result.error = errno;
      return;
    }
  } else {
    int error = 0;
    file = CreateOutputFile(path, error);
    if (!file) {
      result.stop = ImageResult::Stop::CannotCreate;
      result.error = error;
      return;
    }
    map.emplace(imageSectors * sectorBytes);
    // The tail past the volume is zeros, as the file's new length gives it.
    map->Set(total * sectorBytes, (imageSectors - total) * sectorBytes, BlockStatus::Finished);
  }
  result.created = true;
  if (::ftruncate(file.get(), static_cast<off_t>(imageSectors * sectorBytes)) != 0) {
    throw DeviceLostError(DeviceLostError::Side::Output, errno);
  }
  result.sectorsWritten = imageSectors;

  volume.faults().Clear();
  Rescue rescue(volume, file.get(), *map, mapPath, task);
  bool finished = false;
  try {
    rescue.SaveMap();
    finished = rescue.Run();
  } catch (const DeviceLostError& lost) {
    // The map keeps what was done, for a run that resumes; an output that
    // cannot take it any more has nothing more to keep.
    Summarise(*map, sectorBytes, total, result);
    if (lost.side() == DeviceLostError::Side::Source) {
      try {
        rescue.SaveMap();
      } catch (const DeviceLostError&) {
      }
    }
    throw;
  }
  rescue.SaveMap();
  Summarise(*map, sectorBytes, total, result);
  if (!finished) result.stop = ImageResult::Stop::Cancelled;
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
