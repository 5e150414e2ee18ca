#include <cstring>
#include <iostream>

#include "catalogue/scan_info.h"
#include "commands.h"
#include "scan_options.h"
#include "tree_output.h"

namespace restorix::cli {

void AddScanCommand(CLI::App& app, int& status) {
  struct Options {
    ScanOptions scan;
    std::string saveScan;
    std::string log;
    bool json = false;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command = app.add_subcommand(
      "scan", "Find deleted files (and, with --mode format or advanced, files of known types)");
  AddScanOptions(*command, options->scan);
  command->add_option("--save-scan", options->saveScan,
                      "Save the scan to a scan-information file (.qns) to recover from later");
  AddLogOption(*command, options->log);
  command->add_flag("--json", options->json, "Print one JSON document");
  command->footer(
      "Example:\n  restorix scan /dev/sdb1 --save-scan sdb1.qns\n"
      "  restorix scan disk.img --partition 2 --json\n"
      "  restorix scan /dev/sdc --mode advanced --types jpg,png --file-size 8MB");
  command->callback([options, &status] {
    Session session;
    session.logFile = options->log;
    session.jsonOutput = options->json;
    const auto scan = PrepareScan(session, options->scan, status);
    const std::string saveScan =
        options->saveScan.empty() ? "" : WithScanInfoExtension(options->saveScan).string();
    if (scan && !session.OutputsClear({saveScan})) status = 1;
    if (!scan || status != 0) {
      session.SaveLog();
      return;
    }
    const TaskReport report = RunScanTask(session, *scan);
    ScanView view = session.View();
    view.unreadable = &report.unreadable;
    if (options->json) {
      WriteScanJson(std::cout, view, scan->modeName, report.completed);
    } else {
      PrintTree(view);
    }
    PrintUnreadable(report.unreadable);
    status = report.completed ? 0 : 1;
    if (!options->saveScan.empty()) {
      const auto path = WithScanInfoExtension(options->saveScan);
      int error = 0;
      if (!SaveScanInfo(path, session.volume->sourceName(), session.volume->context(), session.tree,
                        &error)) {
        PrintError("the scan information could not be saved to '" + path.string() +
                   "': " + std::strerror(error));
        status = 1;
      } else if (!options->json) {
        std::cout << "Scan Information saving completed: " << path.string() << "\n";
      }
    }
    if (report.deviceLost) PrintError("the source is no longer available; the scan ended early");
    if (!report.completed && !report.deviceLost)
      PrintError("the scan was stopped; the list is incomplete");
    if (!session.SaveLog()) status = 1;
  });
}

}  // namespace restorix::cli
