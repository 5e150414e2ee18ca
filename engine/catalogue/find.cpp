#include "catalogue/find.h"

#include <cctype>
#include <string>

#include "catalogue/item_tree.h"

namespace restorix {

namespace {

bool SameUnit(char16_t a, char16_t b, bool matchCase) {
  return matchCase ? a == b : (a | 0x20) == (b | 0x20);
}

}  // namespace

bool MatchesPattern(std::u16string_view pattern, std::u16string_view name, bool matchCase) {
  // Iterative wildcard match, going back to the last star on a mismatch.
  std::size_t p = 0, n = 0;
  std::size_t star = std::u16string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() &&
        (pattern[p] == u'?' || (pattern[p] != u'*' && SameUnit(pattern[p], name[n], matchCase)))) {
      ++p, ++n;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      resume = n;
    } else if (star != std::u16string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*')
    ++p;
  return p == pattern.size();
}

std::vector<const ItemNode*> FindAll(const ItemNode* root, const FindQuery& query) {
  std::vector<const ItemNode*> found;
  if (root == nullptr) return found;
  WalkTree(root, [&](const ItemNode& node, int) {
    if (!MatchesPattern(query.pattern, node.name, query.matchCase)) return;
    if (query.sizeMode == FindQuery::Size::AtMost && node.size > query.sizeLimit) return;
    if (query.sizeMode == FindQuery::Size::AtLeast && node.size < query.sizeLimit) return;
    found.push_back(&node);
  });
  return found;
}

std::optional<std::uint64_t> ParseSizeLimit(std::string_view text) {
  std::size_t digits = 0;
  while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits])))
    ++digits;
  if (digits == 0 || digits > 10) return std::nullopt;
  std::string unit(text.substr(digits));
  for (char& c : unit)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::uint64_t factor = 0;
  if (unit.empty() || unit == "kb" || unit == "k") factor = 1024;
  if (unit == "mb" || unit == "m") factor = 1048576;
  if (unit == "gb" || unit == "g") factor = 1073741824;
  if (factor == 0) return std::nullopt;
  const std::uint64_t bytes = std::stoull(std::string(text.substr(0, digits))) * factor;
  if (bytes < 1024 || bytes > 4294967296ull) return std::nullopt;
  return bytes;
}

}  // namespace restorix
