// The SOURCE argument shared by the commands, and opening it with the
// system's own messages on failure.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "catalogue/scan_info.h"
#include "disk/partitions.h"
#include "disk/volume.h"

namespace restorix::cli {

struct SourceOptions {
  std::string path;
  unsigned partition = 0;
  std::uint64_t offset = 0;  // 512-byte units, as `partitions --search` lists starts
};

void AddSourceOptions(CLI::App& command, SourceOptions& options, const std::string& what);

// Opens the source; on failure prints why to stderr and returns null.
std::shared_ptr<const Volume> OpenSourceOrExplain(SourceKind kind, const SourceOptions& options);
// Prints why an open failed; false unless it succeeded.
bool ExplainOpen(const OpenResult& result, const SourceOptions& options);

// Whether a saved scan was read; on failure prints why, and warns when the
// file ended early.
bool ScanFileReadOrExplain(const LoadResult& loaded, const std::string& file);

// "NTFS", "FAT32", "FAT16" or "none".
const char* FileSystemName(FsType fsType);

// How a partition, or a volume at an offset, of the source is named in the
// log.
std::string DriveName(const std::u16string& sourceName, const SourceOptions& options);

// Tells which volumes of a whole disk can be opened: the --partition line of
// each, with its size and file system.
void PrintPartitionChoice(const std::string& path, const PartitionList& list);

// Prints "restorix: <message>" to stderr.
void PrintError(const std::string& message);
// Prints one of the system's own messages to stderr as it is.
void PrintMessage(const std::string& text);
// What PrintError and PrintMessage printed in this run, for the error
// document that a --json command prints when it fails.
const std::vector<std::string>& PrintedErrors();

}  // namespace restorix::cli
