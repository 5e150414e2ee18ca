// What a set of items adds up to, and the line both front ends show for it:
// "Total 1023.999 KB in 3 Files in 2 Folders", KB below 1 MB, MB below 1 GB,
// GB from there on.
#pragma once

#include <cstdint>
#include <string>

namespace restorix {

struct ItemNode;

// Bytes of files, files and folders.
struct Totals {
  std::uint64_t bytes = 0;
  std::uint64_t files = 0;
  std::uint64_t folders = 0;
  friend bool operator==(const Totals&, const Totals&) = default;
};

// Counts `node` alone: a folder, or a file and its size.
void AddToTotals(Totals& totals, const ItemNode& node);

// `lead` is "Total" or "Selected".
std::string TotalsLine(const char* lead, const Totals& totals);

}  // namespace restorix
