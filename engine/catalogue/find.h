// Finding items by name pattern, case and size, as the Find command does.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace restorix {

struct ItemNode;

// "?" matches any one unit and "*" any run of units, none included; every
// other unit must equal the name's. Without matchCase both sides are
// compared with bit 0x20 set, which folds A-Z onto a-z. An empty name
// matches only a pattern of stars.
bool MatchesPattern(std::u16string_view pattern, std::u16string_view name, bool matchCase);

struct FindQuery {
  std::u16string pattern;
  bool matchCase = false;
  enum class Size { Any, AtMost, AtLeast } sizeMode = Size::Any;
  std::uint64_t sizeLimit = 0;
};

// Every item below `root` that the query matches, in the order the search
// visits them (depth first: a node, its children, then its next sibling),
// which is the order repeated "Find Next" would report them. Folders match
// like files (their size is 0).
std::vector<const ItemNode*> FindAll(const ItemNode* root, const FindQuery& query);

// A size typed as a number and a unit ("1KB", "12MB", "1GB"; KB when no
// unit is given): bytes, or nullopt outside 1 KB to 4 GB.
std::optional<std::uint64_t> ParseSizeLimit(std::string_view text);

}  // namespace restorix
