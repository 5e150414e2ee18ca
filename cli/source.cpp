#include "source.h"

#include <cstring>
#include <iostream>

#include "disk/partitions.h"
#include "util/text.h"

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

std::shared_ptr<const Volume> OpenSourceOrExplain(SourceKind kind, const SourceOptions& options) {
  const OpenResult result = Volume::Open(kind, options.path, options.partition);
  ExplainOpen(result, options);
  return result.volume;
}

bool ExplainOpen(const OpenResult& result, const SourceOptions& options) {
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
    case OpenFailure::OtherVolume:  // only reopening a saved scan gives it
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

const char* FileSystemName(FsType fsType) {
  switch (fsType) {
    case FsType::Fat16:
      return "FAT16";
    case FsType::Fat32:
      return "FAT32";
    case FsType::Ntfs:
      return "NTFS";
    default:
      return "none";
  }
}

std::string DriveName(const std::u16string& sourceName, unsigned partition) {
  const std::string path = Utf8FromUtf16(sourceName);
  return partition ? path + " (partition " + std::to_string(partition) + ")" : path;
}

}  // namespace restorix::cli
