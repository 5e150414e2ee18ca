#include "tasks/rename_dialog.h"

namespace restorix {

RenameCheck CheckNewName(std::u16string_view text) {
  RenameCheck check;
  static constexpr std::u16string_view kForbidden = u"\"*/:<>?\\|";
  if (!text.empty() && kForbidden.find(text.back()) != std::u16string_view::npos) {
    check.showSpecialCharacters = true;
    check.selectAll = true;
    check.keepOkAsItWas = true;
  } else {
    check.okEnabled = !text.empty();
  }
  if (text.find(u' ') != std::u16string_view::npos) {
    check.selectAll = true;
    check.okEnabled = false;
    check.keepOkAsItWas = false;
  }
  return check;
}

std::u16string RenamedName(std::u16string_view oldName, std::u16string_view entered) {
  std::u16string name(entered);
  const std::size_t dot = oldName.rfind(u'.');
  if (dot != std::u16string_view::npos) name += oldName.substr(dot);
  return name;
}

}  // namespace restorix
