#include "source.h"

#include <cerrno>
#include <cstring>
#include <iostream>

#include "disk/partitions.h"
#include "platform/blkid_probe.h"
#include "tasks/messages.h"
#include "util/size_text.h"
#include "util/text.h"

namespace restorix::cli {

namespace {
// What libblkid finds on a whole source that is no FAT16, FAT32, exFAT or
// NTFS volume ("ext4", "crypto_LUKS", ...); empty when nothing.
std::string ForeignContent(const std::string& path) {
  const auto opened = BlkidProbe::Open(path);
  if (!opened.probe || !opened.probe->FindSuperblock()) return {};
  return opened.probe->Value("TYPE");
}

// --partition N counts from 1, as `restorix partitions` lists them.
const CLI::Validator kPartitionNumber(
    [](std::string& value) -> std::string {
      if (value.find_first_not_of("0123456789") != std::string::npos || value.empty())
        return "'" + value + "' is not a partition number";
      if (value.find_first_not_of('0') == std::string::npos)
        return "partitions count from 1: there is no partition 0 (see: restorix partitions "
               "SOURCE)";
      return {};
    },
    "N>=1");
}  // namespace

void PrintPartitionChoice(const std::string& path, const PartitionList& list) {
  std::string text = "'" + path + "' is a whole disk with a partition table (" + list.table +
                     "); choose a volume with --partition N (see: restorix partitions " + path +
                     "):";
  for (const PartitionEntry& entry : list.entries) {
    const OpenResult volume =
        Volume::Open(SourceKind::LogicalDrive, path, static_cast<unsigned>(entry.number));
    text += "\n  --partition " + std::to_string(entry.number) + "  " +
            SizeText(entry.byteLength()) + "  " +
            (volume ? FileSystemName(volume.volume->context().fsType()) : "no FAT, exFAT or NTFS");
  }
  PrintMessage(text);
}

bool ScanFileReadOrExplain(const LoadResult& loaded, const std::string& file) {
  if (loaded.error != 0) {
    PrintError("cannot open '" + file + "': " + std::strerror(loaded.error));
    return false;
  }
  if (!loaded.loaded) {
    PrintMessage("Scan Information file is not valid or corrupted.");
    PrintError("'" + file + "' is not a scan-information file");
    return false;
  }
  if (loaded.truncated) PrintError("'" + file + "' ends early; what it lists up to there is used");
  return true;
}

namespace {
std::vector<std::string>& Printed() {
  static std::vector<std::string> printed;
  return printed;
}
}  // namespace

void PrintError(const std::string& message) {
  std::cerr << "restorix: " << message << "\n";
  Printed().push_back(message);
}

void PrintMessage(const std::string& text) {
  std::cerr << text << "\n";
  Printed().push_back(text);
}

const std::vector<std::string>& PrintedErrors() {
  return Printed();
}

void AddSourceOptions(CLI::App& command, SourceOptions& options, const std::string& what) {
  command.add_option("SOURCE", options.path, what)->required();
  CLI::Option* partition =
      command
          .add_option("-p,--partition", options.partition,
                      "Open partition N of a whole-disk image or device as the volume")
          ->check(kPartitionNumber);
  command
      .add_option("-o,--offset", options.offset,
                  "Open the volume that starts at SECTOR (512-byte units) of the source, as "
                  "restorix partitions SOURCE --search lists it")
      ->type_name("SECTOR")
      ->excludes(partition);
}

BackupReading::BackupReading()
    : progress_("Looking for the backup boot sector", "sectors", 512),
      previous_(StopOnInterrupt(&stop_)) {
  if (Interrupted()) stop_.RequestStop();
}

BackupReading::~BackupReading() {
  progress_.Finish();
  StopOnInterrupt(previous_);
}

std::shared_ptr<const Volume> OpenSourceOrExplain(SourceKind kind, const SourceOptions& options) {
  OpenResult result;
  {
    const BackupReading reading;
    result = Volume::Open(kind, options.path, options.partition, false, options.offset,
                          reading.search());
  }
  ExplainOpen(result, options);
  return result.volume;
}

bool ExplainOpen(const OpenResult& result, const SourceOptions& options) {
  switch (result.failure) {
    case OpenFailure::None:
      return true;
    case OpenFailure::CannotOpen:
      if (result.error == ENOTBLK) {
        PrintError("'" + options.path +
                   "' is neither a block device nor an image file (a FIFO or a character device "
                   "is not opened); give a disk, a partition or an image file");
      } else {
        PrintError("cannot open '" + options.path + "': " + std::strerror(result.error));
      }
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
  if (options.offset != 0 && Interrupted()) {
    PrintError("stopped while looking for the volume at sector " + std::to_string(options.offset));
    return false;
  }
  if (options.offset != 0) {
    PrintError("no FAT16, FAT32, exFAT or NTFS volume starts at sector " +
               std::to_string(options.offset) + " of '" + options.path +
               "' (see: restorix partitions " + options.path + " --search)");
    return false;
  }
  if (options.partition == 0) {
    // Not damaged: a whole disk, or a file system this program does not read.
    const PartitionList list = ListPartitions(options.path);
    if (!list.entries.empty()) {
      PrintPartitionChoice(options.path, list);
      return false;
    }
    if (const std::string found = ForeignContent(options.path); !found.empty()) {
      PrintError(
          "'" + options.path + "' holds " + found +
          ", not a FAT16, FAT32, exFAT or NTFS volume; its files can still be searched for by "
          "type: restorix scan --mode advanced " +
          options.path);
      return false;
    }
  }
  PrintMessage(kCorruptVolume);
  return false;
}

std::string DriveName(const std::u16string& sourceName, const SourceOptions& options) {
  const std::string path = Utf8FromUtf16(sourceName);
  if (options.offset != 0) return path + " (offset " + std::to_string(options.offset) + ")";
  return options.partition ? path + " (partition " + std::to_string(options.partition) + ")" : path;
}

}  // namespace restorix::cli
