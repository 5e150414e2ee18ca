#include "gui/check_marks.h"

#include <vector>

#include "catalogue/item_tree.h"

namespace restorix {

namespace {

// Visits the node and everything below it; iterative, whatever the depth.
template <typename Visit>
void WalkSubtree(ItemNode& node, Visit&& visit) {
  visit(node);
  WalkTree(&node, [&](ItemNode& below, int) { visit(below); });
}

}  // namespace

void CheckMarks::Rebuild(const ItemNode* root) {
  partly_.clear();
  if (root == nullptr) return;
  // Post-order: every folder after all the folders below it.
  std::vector<const ItemNode*> folders;
  std::vector<const ItemNode*> pending{root};
  while (!pending.empty()) {
    const ItemNode* folder = pending.back();
    pending.pop_back();
    folders.push_back(folder);
    for (const ItemNode* child = folder->firstChild; child; child = child->next)
      if (child->firstChild) pending.push_back(child);
  }
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
    const ItemNode* folder = *it;
    if (!folder->checked) continue;
    for (const ItemNode* child = folder->firstChild; child; child = child->next) {
      if (mark(*child) != CheckMark::Checked) {
        partly_.insert(folder);
        break;
      }
    }
  }
}

CheckMark CheckMarks::mark(const ItemNode& node) const {
  if (!node.checked) return CheckMark::Unchecked;
  return partly_.count(&node) ? CheckMark::Partly : CheckMark::Checked;
}

const ItemNode* CheckMarks::Set(ItemNode& node, bool checked) {
  WalkSubtree(node, [&](ItemNode& below) {
    below.checked = checked ? 1 : 0;
    partly_.erase(&below);
  });
  const ItemNode* highest = &node;
  for (ItemNode* folder = node.parent; folder; folder = folder->parent) {
    if (!Recompute(*folder)) break;
    highest = folder;
  }
  return highest;
}

bool CheckMarks::Recompute(ItemNode& folder) {
  bool any = false, all = true;
  for (const ItemNode* child = folder.firstChild; child; child = child->next) {
    const CheckMark childMark = mark(*child);
    any = any || childMark != CheckMark::Unchecked;
    all = all && childMark == CheckMark::Checked;
  }
  const CheckMark before = mark(folder);
  folder.checked = any ? 1 : 0;
  if (any && !all) {
    partly_.insert(&folder);
  } else {
    partly_.erase(&folder);
  }
  return mark(folder) != before;
}

Totals CountAll(const ItemNode* root) {
  Totals totals;
  if (root == nullptr) return totals;
  ++totals.folders;
  WalkTree(root, [&](const ItemNode& node, int) { AddToTotals(totals, node); });
  return totals;
}

Totals CountChecked(const ItemNode* root) {
  Totals totals;
  if (root == nullptr) return totals;
  if (root->checked) ++totals.folders;
  WalkTree(root, [&](const ItemNode& node, int) {
    if (node.checked) AddToTotals(totals, node);
  });
  return totals;
}

}  // namespace restorix
