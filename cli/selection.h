// Choosing which items `recover` writes, and which `find` reports.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/find.h"
#include "catalogue/item_tree.h"

namespace restorix::cli {

struct SelectionOptions {
  std::vector<std::string> patterns;  // --select
  std::string atLeast, atMost;        // --at-least, --at-most
  bool matchCase = false;
  bool intactOnly = false;  // --intact-only (recover)
};

void AddSelectionOptions(CLI::App& command, SelectionOptions& options, bool repeatablePattern);

// The size filter of the options; nullopt (explained) for a bad size.
std::optional<FindQuery> SizeFilter(const SelectionOptions& options);

// Checks the items to write: every file that a pattern names (by its name,
// or by its path when the pattern has a "/", each component matched alone),
// or that lies in a folder a pattern names, and that passes the size filter;
// then every folder above a checked file. Without patterns every file is
// named. With `intactOnly`, only files whose verdict is intact are checked.
// Returns the number of files checked.
std::size_t SelectItems(ItemNode* root, const std::vector<std::u16string>& patterns,
                        const FindQuery& filter, bool intactOnly = false);

}  // namespace restorix::cli
