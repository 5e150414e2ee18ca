// Copying the open volume, sector for sector, into an image file that can
// later be opened in the volume's place.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "disk/read_faults.h"

namespace restorix {

class Volume;
struct TaskControl;

// Images are written in blocks of this many sectors; an image's length is the
// volume's sector count rounded up to whole blocks.
inline constexpr std::uint32_t kImageBlockSectors = 63;
// How many bytes of whole blocks one read and one write move at most.
inline constexpr std::size_t kImageStepBytes = 1 << 20;
// Where a step fails, the sectors are read in clusters of this many; a
// failed cluster is set aside for the later passes.
inline constexpr std::uint32_t kRescueClusterSectors = 128;
// How far the first pass skips past a failed cluster: this much at first,
// twice as far after each failure in a row, at most 1% of the volume (never
// less than the first skip).
inline constexpr std::uint64_t kRescueFirstSkipBytes = 64 * 1024;
// How often the map is saved while the copy goes on.
inline constexpr int kRescueMapSaveSeconds = 5;

struct ImageResult {
  enum class Stop {
    None,          // every block was copied
    Cancelled,     // the task was stopped
    CannotCreate,  // the image file could not be created
    NotAFile,      // the path names something other than a regular file
    OntoSource,    // the image file would have been written onto the source
    SourceLost,    // the source went away
    WriteFailed,   // a write to the image or its map failed (disk full, I/O error)
    NoMap,         // resuming: the image or its map is missing, unreadable or of another size
  };
  Stop stop = Stop::None;
  int error = 0;
  bool created = false;  // the image file was made (and is partial unless completed)
  // The image's length in sectors once it is made (whole blocks).
  std::uint64_t sectorsWritten = 0;
  // Sectors of the volume copied, and those that could not be read (also
  // those that failed once and were not yet read one by one when the run
  // stopped). Sectors not yet tried are neither.
  std::uint64_t sectorsRescued = 0;
  std::vector<SectorRange> unreadable;
  std::string ontoSource;  // with OntoSource: what the image and the source share

  bool completed() const { return stop == Stop::None; }
};

// Copies the open volume into a new file at `path` (an existing regular file
// is replaced; devices and folders are refused), the way GNU ddrescue copies
// a failing disk: a first pass that skips ahead over runs of errors, a second
// that goes back for what was skipped, then the failed clusters read sector
// by sector from their edges inwards (trimming) and through (scraping). The
// map beside the image (RescueMapPath) records which sectors are copied, bad
// or untried; it is saved as the copy goes and when it ends, also when it is
// stopped or the source is lost, and an image and map left so are carried on
// with `resume`. Unreadable sectors are zeros in the image. Reports progress
// as (sector, totalSectors). `result` is filled as the copy goes; a lost
// source or output raises DeviceLostError.
void ImageVolume(const Volume& volume, const std::filesystem::path& path, TaskControl task,
                 ImageResult& result, bool resume = false);

// "Sat, 05-Dec-2026": English weekday and month names whatever the locale,
// with "Sept" for September.
std::string DateStamp(const std::tm& local);
// The proposed image file name, "QN_RSX_Image # Sat, 05-Dec-2026".
std::string ImageFileName(const std::tm& local);

}  // namespace restorix
