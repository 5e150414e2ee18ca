// What `scan` and `recover` share: the source, the recovery mode, the file
// types to search for and the size of carved files whose length is unknown,
// and running the scan as a task.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <vector>

#include "session.h"
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

// Loads the table of known types from the Signature file beside the
// program; prints the system's message and returns nullopt when it cannot.
std::optional<std::vector<SignatureRecord>> LoadTypes();

struct PreparedScan {
  ScanJob job;
  std::string modeName;  // deleted, format, advanced
};

// Checks the options, opens the source into the session and chooses the
// types. On failure explains why and sets `status` (1 failed, 2 usage error).
std::optional<PreparedScan> PrepareScan(Session& session, const ScanOptions& options, int& status);

// Runs the scan (or search) task on the opened source.
TaskReport RunScanTask(Session& session, const PreparedScan& scan);

}  // namespace restorix::cli
