// The rules of the Rename dialog, asked for a new name when an item's name is
// too long for the destination.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace restorix {

// What the dialog does after each change of its edit field.
struct RenameCheck {
  bool okEnabled = false;      // the OK button's state afterwards
  bool keepOkAsItWas = false;  // ... unless this is set
  bool showSpecialCharacters = false;
  bool selectAll = false;
};
RenameCheck CheckNewName(std::u16string_view text);

// The message shown for a name that ends in a forbidden character.
inline constexpr const char* kSpecialCharactersMessage =
    "A file extension cannot contain following special characters:\n\\/ : * ? \" < > |";
// The edit field takes at most this many characters.
inline constexpr std::size_t kNewNameMaxLength = 40;

// The name that replaces `oldName` when the user enters `entered`: the entry
// followed by the old name's extension, if it had one.
std::u16string RenamedName(std::u16string_view oldName, std::u16string_view entered);

}  // namespace restorix
