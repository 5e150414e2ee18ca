#include "tasks/totals.h"

#include <cstdio>

#include "catalogue/item_tree.h"

namespace restorix {

void AddToTotals(Totals& totals, const ItemNode& node) {
  if (node.isFolder()) {
    ++totals.folders;
  } else {
    ++totals.files;
    totals.bytes += node.size;
  }
}

std::string TotalsLine(const char* lead, const Totals& totals) {
  constexpr std::uint64_t kMB = 1048576, kGB = 1073741824;
  const char* unit = "KB";
  double amount = static_cast<double>(totals.bytes) / 1024;
  if (totals.bytes >= kGB) {
    unit = "GB";
    amount = static_cast<double>(totals.bytes) / kGB;
  } else if (totals.bytes >= kMB) {
    unit = "MB";
    amount = static_cast<double>(totals.bytes) / kMB;
  }
  char text[128];
  std::snprintf(text, sizeof text, "%s %7.3f %s in %llu Files in %llu Folders", lead, amount, unit,
                static_cast<unsigned long long>(totals.files),
                static_cast<unsigned long long>(totals.folders));
  return text;
}

}  // namespace restorix
