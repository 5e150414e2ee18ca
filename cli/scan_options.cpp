#include "scan_options.h"

#include <algorithm>
#include <cctype>
#include <iostream>

#include "platform/file_io.h"
#include "progress.h"
#include "signature/search.h"
#include "signature/signature_file.h"

namespace restorix::cli {

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// A whole-disk block device that holds no volume of its own is searched as a
// disk; anything else is scanned as a volume.
std::string DefaultMode(const ScanOptions& options) {
  if (options.source.partition != 0 || !IsWholeDiskDevice(options.source.path)) return "deleted";
  Engine probe;
  return probe.OpenSource(SOURCE_LOGICAL_DRIVE, options.source.path) ? "deleted" : "advanced";
}

}  // namespace

void AddScanOptions(CLI::App& command, ScanOptions& options) {
  AddSourceOptions(command, options.source, "Volume, disk, or image of either");
  command.add_option("-m,--mode", options.mode,
                     "deleted: deleted files of a volume (default); format: also search the whole "
                     "volume for known file types; advanced: search a whole disk for them")
      ->check(CLI::IsMember({"deleted", "format", "advanced"}));
  command.add_option("-t,--types", options.types, "File types to search for, by extension (default: all)")
      ->delimiter(',');
  command.add_option("-c,--category", options.categories, "File types to search for, by category");
  command.add_option("--file-size", options.fileSize,
                     "Size given to found files whose length cannot be worked out: N[KB|MB|GB], 1KB to "
                     "4GB (default 1KB)");
}

std::optional<std::uint64_t> ParseFileSize(const std::string& text) {
  std::size_t digits = 0;
  while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
  if (digits == 0 || digits > 10) return std::nullopt;
  const std::string unit = Lower(text.substr(digits));
  std::uint64_t factor = 0;
  if (unit.empty() || unit == "kb" || unit == "k") factor = 1024;
  if (unit == "mb" || unit == "m") factor = 1048576;
  if (unit == "gb" || unit == "g") factor = 1073741824;
  if (factor == 0) return std::nullopt;
  const std::uint64_t bytes = std::stoull(text.substr(0, digits)) * factor;
  if (bytes < 1024 || bytes > 4294967296ull) return std::nullopt;
  return bytes;
}

std::optional<std::vector<SignatureRecord>> LoadTypes(Engine& engine) {
  auto table = LoadSignatureFile(engine);
  if (!table || table->empty()) {
    std::cerr << kSignaturesMissing << "\n";
    PrintError("the Signature file beside the program (" + (ProgramFolder() / "Signature").string() +
               ") cannot be read");
    return std::nullopt;
  }
  return table;
}

ScanOutcome OpenAndScan(Engine& engine, const ScanOptions& options) {
  ScanOutcome outcome;
  outcome.mode = options.mode.empty() ? DefaultMode(options) : options.mode;
  const bool search = outcome.mode != "deleted";
  if (search) {
    const auto size = ParseFileSize(options.fileSize);
    if (!size) {
      std::cerr << kFileSizeRange << "\n";
      outcome.usage = 2;
      return outcome;
    }
    const auto table = LoadTypes(engine);
    if (!table) return outcome;
    std::vector<std::string> wanted;
    for (const auto& t : options.types) wanted.push_back(Lower(t));
    std::vector<std::string> categories;
    for (const auto& c : options.categories) categories.push_back(Lower(c));
    for (const auto& t : wanted) {
      if (std::none_of(table->begin(), table->end(), [&](const SignatureRecord& r) { return Lower(std::string(r.ext())) == t; })) {
        PrintError("unknown file type '" + t + "' (see: restorix types)");
        outcome.usage = 2;
        return outcome;
      }
    }
    for (const auto& c : categories) {
      if (std::none_of(table->begin(), table->end(), [&](const SignatureRecord& r) { return Lower(std::string(r.cat())) == c; })) {
        PrintError("unknown category '" + c + "' (see: restorix types)");
        outcome.usage = 2;
        return outcome;
      }
    }
    const bool all = wanted.empty() && categories.empty();
    engine.selectedTypes = SelectTypes(
        *table,
        [&](const SignatureRecord& r) {
          return all || std::count(wanted.begin(), wanted.end(), Lower(std::string(r.ext()))) ||
                 std::count(categories.begin(), categories.end(), Lower(std::string(r.cat())));
        },
        static_cast<std::uint32_t>(std::min<std::uint64_t>(*size, 0xFFFFFFFFu)));
  }
  const SourceKind kind = outcome.mode == "advanced" ? SOURCE_PHYSICAL_DISK : SOURCE_LOGICAL_DRIVE;
  std::vector<SignatureRecord> selected = std::move(engine.selectedTypes);
  if (!OpenSourceOrExplain(engine, kind, options.source)) return outcome;
  engine.selectedTypes = std::move(selected);

  const bool disk = kind == SOURCE_PHYSICAL_DISK;
  ProgressLine progress(search ? "Searching" : "Scanning", disk ? "sectors" : "items",
                        disk ? engine.context.bytesPerSector() : 0);
  engine.SetEvents(&progress);
  engine.keepRunning = 1;
  StopOnInterrupt(engine.keepRunning);
  progress.TaskPhase(1, search && !disk ? 2 : 1);
  outcome.result = RunScan(engine, search, RunSignatureSearch);
  progress.Finish();
  engine.SetEvents(nullptr);
  outcome.ran = true;
  return outcome;
}

}  // namespace restorix::cli
