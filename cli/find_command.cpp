#include <iostream>

#include "catalogue/scan_info.h"
#include "commands.h"
#include "progress.h"
#include "selection.h"
#include "source.h"
#include "tree_output.h"
#include "util/text.h"

namespace restorix::cli {

void AddFindCommand(CLI::App& app, int& status) {
  struct Options {
    std::string scan;
    std::string pattern;
    SelectionOptions selection;
    bool json = false;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command =
      app.add_subcommand("find", "Find items of a saved scan by name pattern and size");
  command->add_option("--scan", options->scan, "The scan-information file (.qns)")->required();
  command
      ->add_option("PATTERN", options->pattern, "Name pattern: * any run of characters, ? any one")
      ->required();
  AddSelectionOptions(*command, options->selection, false);
  command->add_flag("--json", options->json, "Print one JSON document");
  command->footer(
      "Example:\n  restorix find --scan sdb1.qns '*.jpg' --at-least 1MB\n"
      "  restorix find --scan sdb1.qns 'report*.doc' --match-case --json");
  command->callback([options, &status] {
    // Nothing is written: a huge or hostile scan file, a long search or a
    // long listing all end at the first Ctrl-C.
    EndOnInterrupt();
    auto query = SizeFilter(options->selection);
    if (!query) {
      status = 2;
      return;
    }
    query->pattern = Utf16FromUtf8(options->pattern);
    // Only the tree is needed: the source stays closed.
    const LoadResult loaded = ReadScanInfo(options->scan);
    if (!ScanFileReadOrExplain(loaded, options->scan)) {
      status = 1;
      return;
    }
    const std::vector<const ItemNode*> found = FindAll(loaded.tree.root(), *query);
    if (options->json) {
      WriteItemsJson(std::cout, {loaded.sourceName, loaded.context.fsType(), loaded.tree.root()},
                     "find", !loaded.truncated, found);
    } else if (found.empty()) {
      std::cout << "Search item not found\n";
    } else {
      for (const ItemNode* node : found) {
        std::cout << Printable(PathOf(*node))
                  << (node->isFolder() ? "/" : "  " + std::to_string(node->size) + " bytes")
                  << "\n";
      }
    }
    // As grep does: 1 when nothing matched.
    status = found.empty() ? 1 : 0;
  });
}

}  // namespace restorix::cli
