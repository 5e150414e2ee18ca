#include "scan_options.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>

#include "catalogue/find.h"
#include "platform/file_io.h"
#include "signature/search.h"
#include "signature/signature_file.h"
#include "util/text.h"

namespace restorix::cli {

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return text;
}

// A whole-disk block device that holds no volume of its own is searched as a
// disk; anything else is scanned as a volume.
std::string DefaultMode(const ScanOptions& options) {
  if (options.source.partition != 0 || !IsWholeDiskDevice(options.source.path)) return "deleted";
  Engine probe;
  return probe.OpenSource(SOURCE_LOGICAL_DRIVE, options.source.path) ? "deleted" : "advanced";
}

const char* ModeText(const std::string& mode) {
  if (mode == "format") return "Format Recovery";
  if (mode == "advanced") return "Advanced File Recovery";
  return "Deleted File Recovery";
}

// The types the options pick, or nullopt (explained) for an unknown one.
std::optional<std::vector<SignatureRecord>> ChooseTypes(Engine& engine, const ScanOptions& options,
                                                        std::uint32_t assumedSize, int& status) {
  const auto table = LoadTypes(engine);
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
  return SelectTypes(
      *table,
      [&](const SignatureRecord& r) {
        return all || std::count(types.begin(), types.end(), Lower(std::string(r.ext()))) != 0 ||
               std::count(categories.begin(), categories.end(), Lower(std::string(r.cat()))) != 0;
      },
      assumedSize);
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

std::optional<std::vector<SignatureRecord>> LoadTypes(Engine& engine) {
  auto table = LoadSignatureFile(engine);
  if (!table || table->empty()) {
    std::cerr << kSignaturesMissing << "\n";
    PrintError("the Signature file beside the program (" +
               (ProgramFolder() / "Signature").string() + ") cannot be read");
    return std::nullopt;
  }
  return table;
}

std::optional<PreparedScan> PrepareScan(Session& session, const ScanOptions& options, int& status) {
  PreparedScan scan;
  scan.mode = options.mode.empty() ? DefaultMode(options) : options.mode;
  scan.search = scan.mode != "deleted";
  scan.advanced = scan.mode == "advanced";
  std::vector<SignatureRecord> types;
  if (scan.search) {
    const auto size = ParseSizeLimit(options.fileSize);
    if (!size) {
      std::cerr << kSizeRangeMessage << "\n";
      status = 2;
      return std::nullopt;
    }
    // 4 GB is accepted but the size field holds one byte less.
    auto chosen = ChooseTypes(
        session.engine, options,
        static_cast<std::uint32_t>(std::min<std::uint64_t>(*size, 0xFFFFFFFFu)), status);
    if (!chosen) return std::nullopt;
    types = std::move(*chosen);
  } else if (!options.types.empty() || !options.categories.empty()) {
    PrintError("--types and --category choose what --mode format or advanced search for");
    status = 2;
    return std::nullopt;
  }
  if (!OpenSourceOrExplain(session.engine,
                           scan.advanced ? SOURCE_PHYSICAL_DISK : SOURCE_LOGICAL_DRIVE,
                           options.source)) {
    status = 1;
    return std::nullopt;
  }
  session.engine.selectedTypes = std::move(types);

  const std::string path = Utf8FromUtf16(session.engine.sourceName);
  scan.imageFile = !scan.search && std::filesystem::path(path).extension() == ".qni";
  if (scan.imageFile) {
    session.entry = {"Processing Image file :" + path, "----------------------------", "",
                     LOG_STARTED};
  } else {
    const std::string drive =
        options.source.partition
            ? path + " (partition " + std::to_string(options.source.partition) + ")"
            : path;
    session.entry = {"Selected " + drive, std::string("Processing Mode: ") + ModeText(scan.mode),
                     "", LOG_STARTED};
    session.Log();
    if (scan.search) {
      session.entry.description =
          std::to_string(session.engine.selectedTypes.size()) + " file type(s) to search";
      session.Log();
    }
  }
  return scan;
}

TaskReport RunScanTask(Session& session, const PreparedScan& scan) {
  Engine& engine = session.engine;
  const std::uint32_t sectorBytes = engine.context.bytesPerSector();
  const std::string what = scan.search ? "Searching" : "Scanning";
  return session.Run(what, scan.advanced ? "sectors" : "items", scan.advanced ? sectorBytes : 0,
                     [&](TaskSink& sink) {
                       return scan.search
                                  ? SignatureSearchTask(engine, sink, session.entry, scan.advanced)
                                  : DirectoryScanTask(engine, sink, session.entry, scan.imageFile);
                     });
}

}  // namespace restorix::cli
