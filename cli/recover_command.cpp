#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>

#include "catalogue/scan_info.h"
#include "commands.h"
#include "scan_options.h"
#include "selection.h"
#include "session.h"
#include "tree_output.h"
#include "util/text.h"

namespace restorix::cli {

namespace {

std::string Reason(const SaveResult& result) {
  const std::string error = result.error ? std::string(": ") + std::strerror(result.error) : "";
  switch (result.stop) {
    case SaveResult::Stop::None:
      return "";
    case SaveResult::Stop::Cancelled:
      return "stopped by the user; the files written so far stay";
    case SaveResult::Stop::NoDestination:
      return "the destination is not a folder that can be opened" + error;
    case SaveResult::Stop::OntoSource:
      return result.ontoSource +
             "; writing there would overwrite the files being recovered. Choose a folder on "
             "another disk";
    case SaveResult::Stop::RunFolder:
      return "no run folder could be made in the destination" + error;
    case SaveResult::Stop::SourceLost:
      return "the source is no longer available" + error + "; the files written so far stay";
    case SaveResult::Stop::WriteFailed:
      return "writing to the destination failed" + error +
             (result.failedItem.empty() ? "" : " (" + Printable(result.failedItem.string()) + ")") +
             "; the files written so far stay";
  }
  return "";
}

// Loads a saved scan and opens its source again; explains any failure.
bool LoadSavedScan(Session& session, const std::string& file, const std::string& sourceOverride,
                   std::uint64_t offset) {
  // Nothing is written yet: a huge scan file ends at the first Ctrl-C.
  EndOnInterrupt();
  LoadResult loaded = LoadScanInfo(file, sourceOverride, offset);
  EndOnInterrupt(false);
  if (!ScanFileReadOrExplain(loaded, file)) return false;
  const std::string stored = Utf8FromUtf16(loaded.sourceName);
  if (loaded.reopened.failure == OpenFailure::OtherVolume) {
    PrintError("'" + (sourceOverride.empty() ? stored : sourceOverride) +
               "' is not the volume the scan was made of: its geometry or serial number differ, so "
               "the scan's files would be read from the wrong places; point at the scanned volume "
               "with --source PATH");
    return false;
  }
  if (!loaded.reopened) {
    PrintError(
        "the scanned source '" + (sourceOverride.empty() ? stored : sourceOverride) +
        "' cannot be opened" +
        (loaded.reopened.error ? std::string(": ") + std::strerror(loaded.reopened.error) : "") +
        "; point at it with --source PATH (and --offset SECTOR for a volume found by restorix "
        "partitions --search)");
    return false;
  }
  session.volume = loaded.volume;
  session.tree = std::move(loaded.tree);
  return true;
}

void PrintReport(const SaveResult& result, const std::vector<SectorRange>& unreadable, bool json) {
  const bool completed = result.completed();
  PrintUnreadable(unreadable);
  if (json) {
    nlohmann::ordered_json out;
    out["runFolder"] = result.runFolder.empty() ? nlohmann::ordered_json()
                                                : nlohmann::ordered_json(result.runFolder.string());
    out["files"] = result.files;
    out["folders"] = result.folders;
    out["bytes"] = result.bytes;
    out["orphans"] = nlohmann::ordered_json::array();
    for (const auto& orphan : result.orphans)
      out["orphans"].push_back(orphan.string());
    out["renamed"] = nlohmann::ordered_json::array();
    for (const auto& [from, to] : result.renamed)
      out["renamed"].push_back({{"from", from}, {"to", to}});
    out["changed"] = result.changed;
    out["unreadableSectors"] = UnreadableJson(unreadable);
    out["completed"] = completed;
    if (!completed) out["error"] = Reason(result);
    PrintJson(out);
    return;
  }
  if (completed || result.files != 0) {
    std::cout << result.files << " files, " << result.folders << " folders, " << result.bytes
              << " bytes written to " << result.runFolder.string() << "\n";
  }
  for (const auto& [from, to] : result.renamed)
    std::cout << "renamed (name too long): " << Printable(from) << " -> " << Printable(to) << "\n";
  for (const auto& orphan : result.orphans)
    std::cout << "written into " << Printable(orphan.string()) << "\n";
  for (const auto& path : result.changed)
    std::cout << "not written (changed on the source since the scan): " << Printable(path) << "\n";
}

}  // namespace

void AddRecoverCommand(CLI::App& app, int& status) {
  struct Options {
    ScanOptions scan;
    std::string savedScan;
    std::string sourceOverride;
    std::string destination;
    SelectionOptions selection;
    std::string log;
    bool json = false;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command = app.add_subcommand(
      "recover",
      "Copy what a scan finds (or a saved scan lists) into a new folder on another disk");
  AddScanOptions(*command, options->scan);
  command->get_option("SOURCE")->required(false);
  CLI::Option* savedScan = command
                               ->add_option("--scan", options->savedScan,
                                            "Recover from a saved scan-information file (.qns)")
                               ->excludes("SOURCE");
  // A saved scan already says what was scanned and how.
  for (const char* scanOption : {"--partition", "--mode", "--types", "--category", "--file-size"})
    savedScan->excludes(command->get_option(scanOption));
  command
      ->add_option("--source", options->sourceOverride,
                   "With --scan: where the scanned source is now, if it moved")
      ->needs(savedScan);
  command
      ->add_option(
          "--to", options->destination,
          "Folder (on another disk, made if missing) in which the run folder #, #0, ... is made")
      ->required();
  AddSelectionOptions(*command, options->selection, true);
  command->add_flag("--intact-only", options->selection.intactOnly,
                    "Write only the deleted files whose clusters the volume has not given to "
                    "anything since (recoverable: intact)");
  AddLogOption(*command, options->log);
  command->add_flag("--json", options->json, "Print one JSON document");
  command->footer(
      "Example:\n  restorix recover /dev/sdb1 --to /mnt/rescue\n"
      "  restorix recover disk.img --partition 2 --to ./recovered --select '*.jpg' --at-least "
      "100KB\n"
      "  restorix recover --scan sdb1.qns --to /mnt/rescue --select 'Photos/2026/*'\n"
      "  restorix recover --scan lost.qns --offset 83968 --to /mnt/rescue");
  command->callback([options, &status] {
    const auto filter = SizeFilter(options->selection);
    if (!filter) {
      status = 2;
      return;
    }
    Session session;
    session.logFile = options->log;
    session.jsonOutput = options->json;
    // What the scan and the save could not read, together.
    ReadFaults unreadable;
    if (!options->savedScan.empty()) {
      if (!LoadSavedScan(session, options->savedScan, options->sourceOverride,
                         options->scan.source.offset) ||
          !session.OutputsClear({options->destination})) {
        status = 1;
        return;
      }
    } else {
      if (options->scan.source.path.empty()) {
        PrintError("give a SOURCE to scan, or --scan FILE.qns");
        status = 2;
        return;
      }
      const auto scan = PrepareScan(session, options->scan, status);
      if (scan && !session.OutputsClear({options->destination})) status = 1;
      if (!scan || status != 0) {
        session.SaveLog();
        return;
      }
      const TaskReport report = RunScanTask(session, *scan);
      for (const SectorRange& range : report.unreadable)
        unreadable.AddUnreadable(range.first, range.count);
      if (!report.completed) {
        PrintError(report.deviceLost ? "the source is no longer available; nothing was saved"
                                     : "the scan was stopped; nothing was saved");
        session.SaveLog();
        status = 1;
        return;
      }
    }
    std::vector<std::u16string> patterns;
    for (const auto& p : options->selection.patterns)
      patterns.push_back(Utf16FromUtf8(p));
    if (SelectItems(session.tree.root(), patterns, *filter, options->selection.intactOnly) == 0) {
      PrintError("nothing to recover: no file is selected");
      session.SaveLog();
      status = 1;
      return;
    }
    SaveOptions save;
    save.destination = options->destination;
    const TaskReport report = session.Run("Saving", "items", 0, [&](TaskSink& sink) {
      return SaveTask(*session.volume, session.tree, save, session.stop, sink);
    });
    for (const SectorRange& range : report.unreadable)
      unreadable.AddUnreadable(range.first, range.count);
    PrintReport(report.save, unreadable.unreadable(), options->json);
    if (!report.completed) PrintError(Reason(report.save));
    if (!report.save.changed.empty()) {
      PrintError(std::to_string(report.save.changed.size()) +
                 " checked file(s) changed on the source since the scan and were not written");
    }
    status = report.completed && report.save.changed.empty() ? 0 : 1;
    if (!session.SaveLog()) status = 1;
  });
}

}  // namespace restorix::cli
