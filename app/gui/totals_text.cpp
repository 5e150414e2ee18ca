#include "gui/totals_text.h"

#include <cstdio>

namespace restorix {

namespace {

std::string Format(const char* lead, const Totals& totals) {
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

}  // namespace

std::string TotalsText(const Totals& totals) {
  return Format("Total", totals);
}

std::string SelectedText(const Totals& totals) {
  return Format("Selected", totals);
}

}  // namespace restorix
