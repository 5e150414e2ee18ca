#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>

#include "catalogue/recovery_writer.h"
#include "catalogue/scan_info.h"
#include "commands.h"
#include "progress.h"
#include "scan_options.h"
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
      return "the destination lies on the source itself; writing there would overwrite the files "
             "being recovered. Choose a folder on another disk";
    case SaveResult::Stop::RunFolder:
      return "no run folder could be made in the destination" + error;
    case SaveResult::Stop::SourceLost:
      return "the source is no longer available" + error + "; the files written so far stay";
    case SaveResult::Stop::WriteFailed:
      return "writing to the destination failed" + error + "; the files written so far stay";
  }
  return "";
}

// Loads a saved scan and opens its source again; explains any failure.
bool LoadSavedScan(Engine& engine, const std::string& file, const std::string& sourceOverride) {
  const LoadResult loaded = LoadScanInfo(engine, file, sourceOverride);
  if (!loaded.loaded) {
    std::cerr << "Scan Information file is not valid or corrupted.\n";
    PrintError("'" + file + "' is not a scan-information file");
    return false;
  }
  if (loaded.truncated) PrintError("'" + file + "' ends early; recovering what it lists");
  if (!loaded.reopened) {
    const std::string stored = Utf8FromUtf16(engine.sourceName);
    PrintError("the scanned source '" + (sourceOverride.empty() ? stored : sourceOverride) +
               "' cannot be opened" +
               (loaded.reopened.error ? std::string(": ") + std::strerror(loaded.reopened.error) : "") +
               "; point at it with --source PATH");
    return false;
  }
  return true;
}

void CheckAll(ItemNode* root) {
  if (root == nullptr) return;
  root->checked = 1;
  WalkTree(root, [](const ItemNode& node, int) { const_cast<ItemNode&>(node).checked = 1; });
}

}  // namespace

void AddRecoverCommand(CLI::App& app, int& status) {
  struct Options {
    ScanOptions source;
    std::string scan;
    std::string sourceOverride;
    std::string destination;
    bool json = false;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command = app.add_subcommand(
      "recover", "Copy what a scan finds (or a saved scan lists) into a new folder");
  AddScanOptions(*command, options->source);
  command->get_option("SOURCE")->required(false);
  command->add_option("--scan", options->scan, "Recover from a saved scan-information file (.qns)")
      ->excludes("SOURCE");
  command->add_option("--source", options->sourceOverride,
                      "With --scan: where the scanned source is now, if it moved");
  command->add_option("--to", options->destination,
                      "Folder (on another disk) in which the run folder #, #0, ... is made")
      ->required();
  command->add_flag("--json", options->json, "Print one JSON document");
  command->footer(
      "Example:\n  restorix recover /dev/sdb1 --to /mnt/rescue\n"
      "  restorix recover disk.img --partition 2 --to ./recovered --json\n"
      "  restorix recover --scan sdb1.qns --to /mnt/rescue");
  command->callback([options, &status] {
    Engine engine;
    engine.keepRunning = 1;
    StopOnInterrupt(engine.keepRunning);
    if (!options->scan.empty()) {
      if (!LoadSavedScan(engine, options->scan, options->sourceOverride)) {
        status = 1;
        return;
      }
    } else {
      if (options->source.source.path.empty()) {
        PrintError("give a SOURCE to scan, or --scan FILE.qns");
        status = 2;
        return;
      }
      const ScanOutcome outcome = OpenAndScan(engine, options->source);
      if (!outcome.ran) {
        status = outcome.usage;
        return;
      }
      if (outcome.result.status == 0) {
        PrintError(outcome.result.deviceLost ? "the source is no longer available; nothing was saved"
                                             : "the scan was stopped; nothing was saved");
        status = 1;
        return;
      }
      engine.keepRunning = 1;
    }
    CheckAll(engine.treeRoot);

    ProgressLine saving("Saving", "items", 0);
    engine.SetEvents(&saving);
    SaveOptions save;
    save.destination = options->destination;
    save.onError = [](const std::string& message) { PrintError(message); };
    const SaveResult result = SaveCheckedItems(engine, save);
    saving.Finish();
    const bool completed = result.status != 0;
    if (options->json) {
      nlohmann::ordered_json json;
      json["runFolder"] = result.runFolder.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(result.runFolder.string());
      json["files"] = result.files;
      json["folders"] = result.folders;
      json["bytes"] = result.bytes;
      json["orphans"] = nlohmann::ordered_json::array();
      for (const auto& orphan : result.orphans) json["orphans"].push_back(orphan.string());
      json["renamed"] = nlohmann::ordered_json::array();
      for (const auto& [from, to] : result.renamed) json["renamed"].push_back({{"from", from}, {"to", to}});
      json["completed"] = completed;
      if (!completed) json["reason"] = Reason(result);
      std::cout << json.dump(2) << "\n";
    } else if (completed) {
      std::cout << "Saving of data completed.\n"
                << result.files << " files, " << result.folders << " folders, " << result.bytes
                << " bytes written to " << result.runFolder.string() << "\n";
      for (const auto& [from, to] : result.renamed) {
        std::cout << "renamed (name too long): " << from << " -> " << to << "\n";
      }
    }
    if (!completed) {
      std::cerr << "Saving of data aborted.\n";
      PrintError(Reason(result));
    }
    status = completed ? 0 : 1;
  });
}

}  // namespace restorix::cli
