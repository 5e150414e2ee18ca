#include "selection.h"

#include <CLI/CLI.hpp>
#include <iostream>

#include "source.h"
#include "tasks/messages.h"
#include "util/text.h"

namespace restorix::cli {

namespace {

// The components of a path pattern; a trailing "/" (as shell completion
// adds to folders) names no component of its own.
std::vector<std::u16string> Split(const std::u16string& text) {
  std::vector<std::u16string> parts;
  std::u16string part;
  for (const char16_t c : text) {
    if (c == u'/') {
      parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty() || parts.empty()) parts.push_back(part);
  return parts;
}

bool PathMatches(const std::vector<std::u16string>& pattern,
                 const std::vector<const ItemNode*>& path, bool matchCase) {
  if (pattern.size() != path.size()) return false;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (!MatchesPattern(pattern[i], path[i]->name, matchCase)) return false;
  }
  return true;
}

}  // namespace

void AddSelectionOptions(CLI::App& command, SelectionOptions& options, bool repeatablePattern) {
  if (repeatablePattern) {
    command.add_option(
        "--select", options.patterns,
        "Write only what matches: a name pattern (* and ?) matched against every item's "
        "name, or a path pattern with / matched component by component; a folder that "
        "matches brings everything below it. May be given more than once");
  }
  command.add_option("--at-least", options.atLeast, "Only files of at least SIZE (N[KB|MB|GB])");
  command.add_option("--at-most", options.atMost, "Only files of at most SIZE (N[KB|MB|GB])");
  command.add_flag("--match-case", options.matchCase, "Patterns tell capitals from small letters");
}

std::optional<FindQuery> SizeFilter(const SelectionOptions& options) {
  FindQuery query;
  query.matchCase = options.matchCase;
  if (!options.atLeast.empty() && !options.atMost.empty()) {
    PrintError("give --at-least or --at-most, not both");
    return std::nullopt;
  }
  const std::string& text = options.atLeast.empty() ? options.atMost : options.atLeast;
  if (text.empty()) return query;
  const auto limit = ParseSizeLimit(text);
  if (!limit) {
    PrintMessage(kSizeRangeMessage);
    return std::nullopt;
  }
  query.sizeMode = options.atLeast.empty() ? FindQuery::Size::AtMost : FindQuery::Size::AtLeast;
  query.sizeLimit = *limit;
  return query;
}

std::size_t SelectItems(ItemNode* root, const std::vector<std::u16string>& patterns,
                        const FindQuery& filter, bool intactOnly) {
  if (root == nullptr) return 0;
  std::vector<std::vector<std::u16string>> split;
  for (const auto& p : patterns)
    split.push_back(Split(p));
  root->checked = 0;
  std::vector<const ItemNode*> path;
  std::vector<bool> named;  // whether a pattern names the item at each depth or a folder above it
  std::size_t files = 0;
  WalkTree(root, [&](const ItemNode& cnode, int depth) {
    auto& node = const_cast<ItemNode&>(cnode);
    path.resize(static_cast<std::size_t>(depth - 1));
    named.resize(static_cast<std::size_t>(depth - 1));
    path.push_back(&node);
    bool hit = patterns.empty() || (!named.empty() && named.back());
    for (std::size_t i = 0; !hit && i < split.size(); ++i) {
      hit = split[i].size() == 1 ? MatchesPattern(split[i][0], node.name, filter.matchCase)
                                 : PathMatches(split[i], path, filter.matchCase);
    }
    named.push_back(hit);
    node.checked = 0;
    if (node.isFolder() || !hit) return;
    if (filter.sizeMode == FindQuery::Size::AtLeast && node.size < filter.sizeLimit) return;
    if (filter.sizeMode == FindQuery::Size::AtMost && node.size > filter.sizeLimit) return;
    if (intactOnly && node.recoverable.state != Recoverable::Intact) return;
    node.checked = 1;
    ++files;
    // Up to the first folder already checked: what lies above it is too, so
    // a deep tree costs no more than its size.
    for (auto above = path.rbegin() + 1; above != path.rend() && (*above)->checked == 0; ++above)
      const_cast<ItemNode*>(*above)->checked = 1;
  });
  if (files != 0) root->checked = 1;
  return files;
}

}  // namespace restorix::cli
