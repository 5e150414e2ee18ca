#include "catalogue/item_index.h"

namespace restorix {

namespace {

// Children of `link` on one side: +1 left, -1 right.
IndexLink*& Child(IndexLink* link, int side) {
  return side > 0 ? link->left : link->right;
}

// Side of `id` below `link`: +1 when it sorts left.
int SideOf(const IndexLink* link, std::uint32_t id) {
  return id < link->item->id ? +1 : -1;
}

}  // namespace

ItemIndex::ItemIndex(ItemNode* root) {
  links_.push_back(IndexLink{0, root, nullptr, nullptr, nullptr});
  indexRoot_ = &links_.back();
}

ItemIndex::Search ItemIndex::Locate(std::uint32_t id) const {
  Search search;
  search.pivot = indexRoot_;
  for (IndexLink* link = indexRoot_; link != nullptr;) {
    search.last = link;
    if (link->item->id == id) {
      search.found = link;
      return search;
    }
    if (link->balance != 0) search.pivot = link;
    link = link->item->id < id ? link->right : link->left;
  }
  return search;
}

ItemNode* ItemIndex::Find(std::uint32_t id) const {
  const Search search = Locate(id);
  return search.found ? search.found->item : nullptr;
}

void ItemIndex::Insert(ItemNode* node, const Search& search) {
  links_.push_back(IndexLink{0, node, search.last, nullptr, nullptr});
  IndexLink* added = &links_.back();
  if (search.last == nullptr) {
    indexRoot_ = added;
    return;
  }
  if (search.last->item->id >= node->id) {
    search.last->left = added;
  } else {
    search.last->right = added;
  }
  Rebalance(search.pivot, added);
}

void ItemIndex::Rebalance(IndexLink* pivot, IndexLink* added) {
  const std::uint32_t id = added->item->id;
  for (IndexLink* link = Child(pivot, SideOf(pivot, id)); link != added;) {
    const int side = SideOf(link, id);
    link->balance = static_cast<std::int8_t>(side);
    link = Child(link, side);
  }

  const int d = SideOf(pivot, id);
  if (pivot->balance == 0) {
    pivot->balance = static_cast<std::int8_t>(d);
    return;
  }
  if (pivot->balance == -d) {
    pivot->balance = 0;
    return;
  }

  IndexLink* const above = pivot->up;
  IndexLink* child = Child(pivot, d);
  IndexLink* top = nullptr;
  if (child->balance == d) {
    // Single rotation: the child takes the pivot's place.
    IndexLink* inner = Child(child, -d);
    Child(pivot, d) = inner;
    if (inner) inner->up = pivot;
    Child(child, -d) = pivot;
    pivot->up = child;
    pivot->balance = 0;
    child->balance = 0;
    top = child;
  } else {
    // Double rotation through the grandchild on the inner side.
    IndexLink* grand = Child(child, -d);
    IndexLink* towardChild = Child(grand, d);
    IndexLink* towardPivot = Child(grand, -d);
    Child(child, -d) = towardChild;
    if (towardChild) towardChild->up = child;
    Child(pivot, d) = towardPivot;
    if (towardPivot) towardPivot->up = pivot;
    Child(grand, d) = child;
    Child(grand, -d) = pivot;
    child->up = grand;
    pivot->up = grand;
    if (grand->balance == 0) {
      pivot->balance = 0;
      child->balance = 0;
    } else if (grand->balance == d) {
      pivot->balance = static_cast<std::int8_t>(-d);
      child->balance = 0;
    } else {
      pivot->balance = 0;
      child->balance = static_cast<std::int8_t>(d);
    }
    grand->balance = 0;
    top = grand;
  }
  top->up = above;
  if (above == nullptr) {
    indexRoot_ = top;
  } else if (above->left == pivot) {
    above->left = top;
  } else {
    above->right = top;
  }
}

ItemNode* ItemIndex::RegisterFolder(ItemNode* node) {
  const Search search = Locate(node->id);
  if (search.found) return search.found->item;
  Insert(node, search);
  return node;
}

}  // namespace restorix
