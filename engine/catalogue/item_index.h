// The height-balanced index of folders by id that a tree keeps while a scan
// runs. Its shape decides the order in which placeholder folders that no
// record claimed are hung under the root.
#pragma once

#include <cstdint>
#include <deque>

#include "catalogue/item_tree.h"

namespace restorix {

// One link of the index.
struct IndexLink {
  std::int8_t balance = 0;  // +1 left subtree higher, -1 right subtree higher
  ItemNode* item = nullptr;
  IndexLink* up = nullptr;
  IndexLink* left = nullptr;
  IndexLink* right = nullptr;
};

class ItemIndex {
 public:
  // An index holding the root.
  explicit ItemIndex(ItemNode* root);
  ItemIndex(const ItemIndex&) = delete;
  ItemIndex& operator=(const ItemIndex&) = delete;

  // Returns the indexed folder with the node's id, or indexes the node and
  // returns it.
  ItemNode* RegisterFolder(ItemNode* node);
  ItemNode* Find(std::uint32_t id) const;

  const IndexLink* root() const { return indexRoot_; }

  // Visits every indexed item in pre-order (a link, its left subtree, then
  // its right subtree).
  template <typename Visit>
  void PreOrder(Visit&& visit) const {
    std::vector<const IndexLink*> stack;
    if (indexRoot_) stack.push_back(indexRoot_);
    while (!stack.empty()) {
      const IndexLink* link = stack.back();
      stack.pop_back();
      visit(link->item);
      if (link->right) stack.push_back(link->right);
      if (link->left) stack.push_back(link->left);
    }
  }

 private:
  struct Search {
    IndexLink* found = nullptr;
    IndexLink* last = nullptr;   // the last link visited
    IndexLink* pivot = nullptr;  // the last link with nonzero balance
  };
  Search Locate(std::uint32_t id) const;
  void Insert(ItemNode* node, const Search& search);
  void Rebalance(IndexLink* pivot, IndexLink* added);

  std::deque<IndexLink> links_;
  IndexLink* indexRoot_ = nullptr;
};

}  // namespace restorix
