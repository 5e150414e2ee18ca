#include "gui/totals_text.h"

namespace restorix {

std::string TotalsText(const Totals& totals) {
  return TotalsLine("Total", totals);
}

std::string SelectedText(const Totals& totals) {
  return TotalsLine("Selected", totals);
}

}  // namespace restorix
