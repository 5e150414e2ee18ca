// Copying the checked items of the tree out of the source into a new run
// folder ("#", "#0", "#1", ...) inside a destination folder, recreating the
// folders, and reading each file's data the way its scanner located it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace restorix {

class ItemTree;
class Volume;
struct TaskControl;

struct SaveOptions {
  std::filesystem::path destination;  // an existing folder, not on the source
  // Asked for a new name when an item's name is too long for the destination
  // (it is then written into "Orphan Files"). Returns the new name, or nothing
  // to have the name shortened, keeping its extension.
  std::function<std::optional<std::u16string>(const std::u16string& oldName,
                                              const std::filesystem::path& folder)>
      rename;
};

struct SaveResult {
  enum class Stop {
    None,
    Cancelled,      // the task was stopped
    NoDestination,  // the destination is missing or not a folder
    OntoSource,     // the destination lies on the source itself
    RunFolder,      // no run folder could be made
    SourceLost,     // the source went away
    WriteFailed,    // an item could not be made or written (disk full, I/O error, gone)
  };
  Stop stop = Stop::None;
  int error = 0;
  std::string ontoSource;  // with OntoSource: what the destination and the source share
  std::filesystem::path runFolder;
  std::filesystem::path failedItem;  // with WriteFailed: where the item being written was to go
  std::uint64_t files = 0, folders = 0, bytes = 0;
  std::vector<std::filesystem::path> orphans;                // items written into "Orphan Files"
  std::vector<std::pair<std::string, std::string>> renamed;  // old name, new name
  // Paths of checked files not written because what the scan saw of them is
  // no longer on the source (StaleItemCheck).
  std::vector<std::string> changed;

  bool completed() const { return stop == Stop::None; }
};

// Writes every checked item below the root (an unchecked folder is passed
// over with everything below it), each file's bytes read through an
// ItemReader, each file and folder dated with its item's date. A file that
// changed on the source since the scan is not written; SaveResult::changed
// names it. Any other item that cannot be made or written ends the save
// (WriteFailed). Reports progress as (items done, checked files + checked
// folders). `result` is filled as the save goes, so that a caller that sees
// an exception (DeviceLostError: the source or the destination went away)
// still knows what was written.
void SaveCheckedItems(const Volume& volume, const ItemTree& tree, const SaveOptions& options,
                      TaskControl task, SaveResult& result);

inline constexpr const char* kRunFolderPrefix = "#";
inline constexpr const char* kOrphanFolder = "Orphan Files";

}  // namespace restorix
