// What `scan` and `recover` share: the source, the recovery mode, the file
// types to search for and the size of carved files whose length is unknown,
// and running the scan with a progress line.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <vector>

#include "engine.h"
#include "fs/scan.h"
#include "signature/signature_record.h"
#include "source.h"

namespace restorix::cli {

struct ScanOptions {
  SourceOptions source;
  std::string mode;  // deleted, format, advanced; empty: chosen by the source
  std::vector<std::string> types;
  std::vector<std::string> categories;
  std::string fileSize = "1KB";
};

void AddScanOptions(CLI::App& command, ScanOptions& options);

// "512KB", "2MB", "4GB", "7" (KB): bytes, or nullopt outside 1 KB to 4 GB.
std::optional<std::uint64_t> ParseFileSize(const std::string& text);

// The message shown for a size outside the range.
inline constexpr const char* kFileSizeRange = "Please provide value in range of 1KB to 4GB";

// Loads the table of known types from the Signature file beside the
// program; prints the system's message and returns nullopt when it cannot.
std::optional<std::vector<SignatureRecord>> LoadTypes(Engine& engine);

struct ScanOutcome {
  bool ran = false;  // false: options or source refused (already explained)
  int usage = 1;     // exit status when not ran: 1 failed, 2 usage error
  std::string mode;
  ScanResult result;
};

// Opens the source for the mode, selects the types, runs the scan.
ScanOutcome OpenAndScan(Engine& engine, const ScanOptions& options);

}  // namespace restorix::cli
