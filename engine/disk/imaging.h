// Copying the open volume, sector for sector, into an image file that can
// later be opened in the volume's place.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>

namespace restorix {

class Volume;
struct TaskControl;

// Images are written in blocks of this many sectors; an image's length is the
// volume's sector count rounded up to whole blocks.
inline constexpr std::uint32_t kImageBlockSectors = 63;
// How many bytes of whole blocks one read and one write move at most.
inline constexpr std::size_t kImageStepBytes = 1 << 20;

struct ImageResult {
  enum class Stop {
    None,          // every block was copied
    Cancelled,     // the task was stopped
    CannotCreate,  // the image file could not be created
    NotAFile,      // the path names something other than a regular file
    OntoSource,    // the image file would have been written onto the source
    SourceLost,    // the source went away
    WriteFailed,   // a write to the image failed (disk full, I/O error)
  };
  Stop stop = Stop::None;
  int error = 0;
  bool created = false;  // the image file was made (and is partial unless completed)
  std::uint64_t sectorsWritten = 0;
  std::string ontoSource;  // with OntoSource: what the image and the source share

  bool completed() const { return stop == Stop::None; }
};

// Copies the open volume into a new file at `path` (an existing regular file
// is replaced; devices and folders are refused). Reports progress per block
// as (sector, totalSectors). `result` is filled as the copy goes; a lost
// source or output raises DeviceLostError.
void ImageVolume(const Volume& volume, const std::filesystem::path& path, TaskControl task,
                 ImageResult& result);

// "Sat, 05-Dec-2026": English weekday and month names whatever the locale,
// with "Sept" for September.
std::string DateStamp(const std::tm& local);
// The proposed image file name, "QN_RSX_Image # Sat, 05-Dec-2026".
std::string ImageFileName(const std::tm& local);

}  // namespace restorix
