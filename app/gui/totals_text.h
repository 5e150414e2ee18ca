// The status bar's totals: every item, and the checked ones.
#pragma once

#include <string>

#include "gui/check_marks.h"

namespace restorix {

// What pane 1 reads before anything was scanned, and when a scan starts.
inline constexpr const char* kNoTotals = "Total 0 Byte(s) in 0 File(s) in 0 Folder(s)";
inline constexpr const char* kNoTotalsAtTaskStart = "Total 0 Byte(s) in 0 Folder(s) in 0 File(s)";

// "Total 1023.999 KB in 3 Files in 2 Folders": KB below 1 MB, MB below 1 GB,
// GB from there on.
std::string TotalsText(const Totals& totals);
// The same for the checked items: "Selected    1.000 MB in ...".
std::string SelectedText(const Totals& totals);

}  // namespace restorix
