#include <iostream>

#include "catalogue/scan_info.h"
#include "commands.h"
#include "fs/scan.h"
#include "progress.h"
#include "source.h"
#include "tree_output.h"

namespace restorix::cli {

void AddScanCommand(CLI::App& app, int& status) {
  struct Options {
    SourceOptions source;
    std::string saveScan;
    bool json = false;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command =
      app.add_subcommand("scan", "Find deleted files and the folders that hold them");
  AddSourceOptions(*command, options->source, "Volume: block device, volume image or image file");
  command->add_option("--save-scan", options->saveScan,
                      "Save the scan to a scan-information file (.qns) to recover from later");
  command->add_flag("--json", options->json, "Print one JSON document");
  command->footer(
      "Example:\n  restorix scan /dev/sdb1 --save-scan sdb1.qns\n"
      "  restorix scan disk.img --partition 2 --json");
  command->callback([options, &status] {
    Engine engine;
    if (!OpenSourceOrExplain(engine, SOURCE_LOGICAL_DRIVE, options->source)) {
      status = 1;
      return;
    }
    ProgressLine progress("Scanning", "records", 0);
    engine.SetEvents(&progress);
    engine.keepRunning = 1;
    StopOnInterrupt(engine.keepRunning);
    progress.TaskPhase(1, 1);
    const ScanResult result = RunScan(engine, false, nullptr);
    progress.Finish();
    const bool completed = result.status != 0;
    if (options->json) {
      std::cout << ScanJson(engine, "deleted", completed).dump(2) << "\n";
    } else {
      PrintTree(engine);
    }
    if (!options->saveScan.empty()) {
      const auto path = WithScanInfoExtension(options->saveScan);
      if (SaveScanInfo(engine, path)) {
        if (!options->json) std::cout << "Scan Information saving completed: " << path.string() << "\n";
      } else {
        PrintError("the scan information could not be saved to '" + path.string() + "'");
        status = 1;
        return;
      }
    }
    if (result.deviceLost) PrintError("the source is no longer available; the scan ended early");
    if (!completed && !result.deviceLost) PrintError("the scan was stopped; the list is incomplete");
    status = completed ? 0 : 1;
  });
}

}  // namespace restorix::cli
