#include "scan_options.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>

#include "catalogue/find.h"
#include "platform/file_io.h"
#include "signature/search.h"
#include "signature/signature_file.h"
#include "tasks/messages.h"
#include "util/text.h"

namespace restorix::cli {

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::optional<ScanMode> ModeFromName(const std::string& name) {
  if (name == "deleted") return ScanMode::DeletedFiles;
  if (name == "format") return ScanMode::Format;
  if (name == "advanced") return ScanMode::Advanced;
  return std::nullopt;
}

const char* ModeName(ScanMode mode) {
  switch (mode) {
    case ScanMode::Format:
      return "format";
    case ScanMode::Advanced:
      return "advanced";
    default:
      return "deleted";
  }
}

const char* ModeText(ScanMode mode) {
  switch (mode) {
    case ScanMode::Format:
      return "Format Recovery";
    case ScanMode::Advanced:
      return "Advanced File Recovery";
    default:
      return "Deleted File Recovery";
  }
}

// The types the options pick, in table order, or nullopt (explained) for an
// unknown one.
std::optional<std::vector<SignatureRecord>> ChooseTypes(const ScanOptions& options, int& status) {
  const auto table = LoadTypes();
  if (!table) {
    status = 1;
    return std::nullopt;
  }
  const auto known = [&](auto field, const std::string& wanted) {
    return std::any_of(table->begin(), table->end(), [&](const SignatureRecord& r) {
      return Lower(std::string((r.*field)())) == wanted;
    });
  };
  std::vector<std::string> types, categories;
  for (const auto& t : options.types)
    types.push_back(Lower(t));
  for (const auto& c : options.categories)
    categories.push_back(Lower(c));
  for (const auto& t : types) {
    if (!known(&SignatureRecord::ext, t)) {
      PrintError("unknown file type '" + t + "' (see: restorix types)");
      status = 2;
      return std::nullopt;
    }
  }
  for (const auto& c : categories) {
    if (!known(&SignatureRecord::cat, c)) {
      PrintError("unknown category '" + c + "' (see: restorix types)");
      status = 2;
      return std::nullopt;
    }
  }
  const bool all = types.empty() && categories.empty();
  std::vector<SignatureRecord> chosen;
  for (const SignatureRecord& r : *table) {
    if (all || std::count(types.begin(), types.end(), Lower(std::string(r.ext()))) != 0 ||
        std::count(categories.begin(), categories.end(), Lower(std::string(r.cat()))) != 0) {
      chosen.push_back(r);
    }
  }
  return chosen;
}

}  // namespace

void AddScanOptions(CLI::App& command, ScanOptions& options) {
  AddSourceOptions(command, options.source, "Volume, disk, or image of either");
  command
      .add_option("-m,--mode", options.mode,
                  "deleted: deleted files of a volume (the default for volumes and images); "
                  "format: then also search the whole volume for known file types; advanced: "
                  "search a whole disk for them (the default for a disk device)")
      ->check(CLI::IsMember({"deleted", "format", "advanced"}));
  command
      .add_option("-t,--types", options.types,
                  "File types to search for, by extension (default: all)")
      ->delimiter(',');
  command.add_option("-c,--category", options.categories, "File types to search for, by category");
  command.add_option(
      "--file-size", options.fileSize,
      "Size given to found files whose length cannot be worked out: N[KB|MB|GB], 1KB to "
      "4GB (default 1KB)");
}

std::optional<std::vector<SignatureRecord>> LoadTypes() {
  auto table = LoadSignatureFile();
  if (!table || table->empty()) {
    PrintMessage(kSignaturesMissing);
    PrintError("the Signature file beside the program (" +
               (ProgramFolder() / "Signature").string() + ") cannot be read");
    return std::nullopt;
  }
  return table;
}

std::optional<PreparedScan> PrepareScan(Session& session, const ScanOptions& options, int& status) {
  ScanRequest request;
  request.source = options.source.path;
  request.partition = options.source.partition;
  request.offset = options.source.offset;
  request.mode = ModeFromName(options.mode);
  const OpenedScan opened = OpenScanSource(request);
  if (!ExplainOpen(opened.opened, options.source)) {
    status = 1;
    return std::nullopt;
  }
  const bool search = opened.mode != ScanMode::DeletedFiles;
  if (search) {
    const auto size = ParseSizeLimit(options.fileSize);
    if (!size) {
      PrintMessage(kSizeRangeMessage);
      status = 2;
      return std::nullopt;
    }
    // 4 GB is accepted but the size field holds one byte less.
    request.assumedSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(*size, 0xFFFFFFFFu));
    auto chosen = ChooseTypes(options, status);
    if (!chosen) return std::nullopt;
    request.types = std::move(*chosen);
  } else if (!options.types.empty() || !options.categories.empty()) {
    PrintError("--types and --category choose what --mode format or advanced search for");
    status = 2;
    return std::nullopt;
  }
  session.volume = opened.opened.volume;
  const Volume& volume = *session.volume;
  if (!request.mode && opened.mode == ScanMode::Advanced) {
    // Chosen by the source, not by the user: say so, and what else there is.
    PrintError("'" + options.source.path +
               "' is a whole disk: Advanced File Recovery searches all of it for files of "
               "known types (--mode chooses otherwise)");
    const PartitionList list = ListPartitions(options.source.path);
    if (!list.entries.empty()) PrintPartitionChoice(options.source.path, list);
  }

  PreparedScan scan;
  scan.modeName = ModeName(opened.mode);
  scan.job.mode = opened.mode;
  scan.job.assumedSize = request.assumedSize;
  scan.job.driveName = DriveName(volume.sourceName(), options.source);
  scan.job.types = std::move(request.types);
  if (!search && volume.isImageFile()) {
    session.entry = {"Processing Image file :" + Utf8FromUtf16(volume.sourceName()),
                     "----------------------------", "", LOG_STARTED};
  } else {
    session.entry = {"Selected " + scan.job.driveName,
                     std::string("Processing Mode: ") + ModeText(opened.mode), "", LOG_STARTED};
    session.Log();
    if (search) {
      session.entry.description = std::to_string(scan.job.types.size()) + " file type(s) to search";
      session.Log();
    }
  }
  return scan;
}

TaskReport RunScanTask(Session& session, const PreparedScan& scan) {
  const Volume& volume = *session.volume;
  const bool search = scan.job.mode != ScanMode::DeletedFiles;
  const bool advanced = scan.job.mode == ScanMode::Advanced;
  return session.Run(search ? "Searching" : "Scanning", advanced ? "sectors" : "items",
                     advanced ? volume.context().bytesPerSector() : 0, [&](TaskSink& sink) {
                       return ScanTask(volume, scan.job, session.tree, session.stop, sink,
                                       session.entry);
                     });
}

}  // namespace restorix::cli
