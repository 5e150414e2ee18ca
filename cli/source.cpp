#include "source.h"

#include <cstring>
#include <iostream>

#include "disk/partitions.h"

namespace restorix::cli {

namespace {
// The message the wizard shows for a drive it cannot open.
constexpr const char* kCorruptVolume =
    "Failed to open drive.\nCritical disk structures corrupted\nPlease use Advanced File Recovery.";
}  // namespace

bool ScanFileReadOrExplain(const LoadResult& loaded, const std::string& file) {
  if (!loaded.loaded) {
    std::cerr << "Scan Information file is not valid or corrupted.\n";
    PrintError("'" + file + "' is not a scan-information file");
    return false;
  }
  if (loaded.truncated) PrintError("'" + file + "' ends early; what it lists up to there is used");
  return true;
}

void PrintError(const std::string& message) {
  std::cerr << "restorix: " << message << "\n";
}

void AddSourceOptions(CLI::App& command, SourceOptions& options, const std::string& what) {
  command.add_option("SOURCE", options.path, what)->required();
  command
      .add_option("-p,--partition", options.partition,
                  "Open partition N of a whole-disk image or device as the volume")
      ->check(CLI::PositiveNumber);
}

bool OpenSourceOrExplain(Engine& engine, SourceKind kind, const SourceOptions& options) {
  const OpenResult result = engine.OpenSource(kind, options.path, options.partition);
  switch (result.failure) {
    case OpenFailure::None:
      return true;
    case OpenFailure::CannotOpen:
      PrintError("cannot open '" + options.path + "': " + std::strerror(result.error));
      return false;
    case OpenFailure::NoSuchPartition:
      PrintError("'" + options.path + "' has no partition " + std::to_string(options.partition) +
                 " (see: restorix partitions " + options.path + ")");
      return false;
    case OpenFailure::NotRecognised:
    case OpenFailure::MftNotFound:
      break;
  }
  std::string message = kCorruptVolume;
  if (options.partition == 0 && !ListPartitions(options.path).entries.empty()) {
    message += "\n'" + options.path +
               "' holds a partition table: choose a volume with --partition N (see: restorix "
               "partitions " +
               options.path + ")";
  }
  std::cerr << message << "\n";
  return false;
}

const char* FileSystemName(std::uint8_t fsType) {
  switch (fsType) {
    case FS_FAT16:
      return "FAT16";
    case FS_FAT32:
      return "FAT32";
    case FS_NTFS:
      return "NTFS";
    default:
      return "none";
  }
}

}  // namespace restorix::cli
