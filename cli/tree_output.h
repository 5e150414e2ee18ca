// Printing an item tree: an indented listing for people, one JSON document
// for programs.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "engine.h"

namespace restorix::cli {

struct Totals {
  std::uint64_t files = 0;
  std::uint64_t folders = 0;
  std::uint64_t bytes = 0;
};

Totals CountItems(const ItemNode* root);

// "Total %7.3f KB in %u Files in %u Folders" and its MB and GB forms.
std::string TotalsLine(const Totals& totals);

// Every item below the root, in tree order, as JSON objects with path,
// name, folder, live, size, id, parentId, origin, dates and check state.
nlohmann::ordered_json ItemsJson(const Engine& engine);

// The whole scan document: source, fsType, mode, completed, totals, items.
nlohmann::ordered_json ScanJson(const Engine& engine, const std::string& mode, bool completed);

// An indented listing of the tree with sizes, states and dates.
void PrintTree(const Engine& engine);

}  // namespace restorix::cli
