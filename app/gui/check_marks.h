// The check boxes of the folder tree and the contents list. A node's own
// `checked` is what the recovery writer copies; a folder is shown partly
// checked when it is checked but something below it is not. Checking or
// unchecking an item sets everything below it the same way and brings each
// folder above it in line: a folder is checked while any of its children
// is, and fully checked only when every child is fully checked.
#pragma once

#include <cstdint>
#include <unordered_set>

#include "tasks/totals.h"

namespace restorix {

struct ItemNode;

enum class CheckMark : std::uint8_t { Unchecked, Checked, Partly };

class CheckMarks {
 public:
  // Works out the partly checked folders from the nodes' own flags, as a
  // freshly scanned or loaded tree holds them.
  void Rebuild(const ItemNode* root);
  void Clear() { partly_.clear(); }

  CheckMark mark(const ItemNode& node) const;

  // Checks or unchecks the node and everything below it, then the folders
  // above it. Returns the highest ancestor whose mark changed (or the node
  // itself when none did): the views repaint from there down.
  const ItemNode* Set(ItemNode& node, bool checked);

 private:
  // Brings one folder in line with its children; false when nothing changed.
  bool Recompute(ItemNode& folder);

  std::unordered_set<const ItemNode*> partly_;
};

// Every node of the tree, the root counted as a folder.
Totals CountAll(const ItemNode* root);
// The nodes whose own `checked` is set, the root included.
Totals CountChecked(const ItemNode* root);

}  // namespace restorix
