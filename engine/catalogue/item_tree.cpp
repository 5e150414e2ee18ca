#include "catalogue/item_tree.h"

#include <string>

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

// Deepest legitimate folder nesting we follow when checking for a parent
// loop; anything deeper is treated as a loop.
constexpr int kMaxAncestorWalk = 1 << 16;

}  // namespace

ItemNode* MakeRootNode(std::uint32_t rootId) {
  auto* root = new ItemNode;
  root->name = u".";
  root->flags = ITEM_LIVE | ITEM_FOLDER;
  root->id = rootId;
  root->parentId = rootId;
  return root;
}

void FreeSubtree(ItemNode* node) {
  if (node == nullptr) return;
  // Work through a single list: a node's children are spliced in its place
  // before it is freed, so no stack grows with the depth of the tree.
  ItemNode* work = node->firstChild;
  node->firstChild = nullptr;
  while (work != nullptr) {
    ItemNode* current = work;
    if (current->firstChild != nullptr) {
      ItemNode* last = current->firstChild;
      while (last->next != nullptr)
        last = last->next;
      last->next = current->next;
      work = current->firstChild;
    } else {
      work = current->next;
    }
    delete current;
  }
}

void FreeTree(ItemNode* node) {
  if (node == nullptr) return;
  FreeSubtree(node);
  delete node;
}

void PruneEmptyFolders(ItemNode* folder) {
  if (folder == nullptr) return;
  // Each frame is a folder being pruned and the link (its firstChild or a
  // child's next) that leads to the child to look at next.
  struct Frame {
    ItemNode* folder;
    ItemNode** link;
  };
  std::vector<Frame> stack{{folder, &folder->firstChild}};
  while (!stack.empty()) {
    Frame& frame = stack.back();
    ItemNode* child = *frame.link;
    if (child != nullptr) {
      if (child->isFolder()) {
        stack.push_back({child, &child->firstChild});
      } else {
        frame.link = &child->next;
      }
      continue;
    }
    // This folder is done; decide on it in its parent's list.
    ItemNode* done = frame.folder;
    stack.pop_back();
    if (stack.empty()) break;
    Frame& parent = stack.back();
    if (done->firstChild == nullptr) {
      *parent.link = done->next;
      delete done;
    } else {
      parent.link = &done->next;
    }
  }
}

void ItemIndex::Start(ItemNode* root) {
  FreeIndex();
  treeRoot_ = root;
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

bool ItemIndex::WouldLoop(const ItemNode* folder, const ItemNode* chain) const {
  bool anyChildren = false;
  for (const ItemNode* n = chain; n != nullptr; n = n->next) {
    if (n == folder) return true;
    anyChildren = anyChildren || n->firstChild != nullptr;
  }
  if (!anyChildren) return false;  // nothing below the chain that the folder could be
  int steps = 0;
  for (const ItemNode* a = folder->parent; a != nullptr; a = a->parent) {
    if (++steps > kMaxAncestorWalk) return true;
    for (const ItemNode* n = chain; n != nullptr; n = n->next) {
      if (n == a) return true;
    }
  }
  return false;
}

void ItemIndex::AttachToParent(ItemNode* node) {
  for (const ItemNode* n = node; n != nullptr; n = n->next) {
    if (n == treeRoot_) return;  // the root hangs nowhere
  }
  const Search search = Locate(node->parentId);
  ItemNode* folder = nullptr;
  if (search.found) {
    folder = search.found->item;
    // A damaged volume can name a folder's own descendant (or itself) as its
    // parent; such a chain is hung under the root instead of into a loop.
    if (WouldLoop(folder, node) && treeRoot_ != nullptr) folder = treeRoot_;
  } else {
    folder = new ItemNode;
    folder->id = node->parentId;
    folder->flags = ITEM_FOLDER;
    folder->name = u"#";
    for (const char digit : std::to_string(node->parentId))
      folder->name += char16_t(digit);
    Insert(folder, search);
  }
  ItemNode* last = node;
  for (ItemNode* n = node;; n = n->next) {
    n->parent = folder;
    last = n;
    if (n->next == nullptr) break;
  }
  last->next = folder->firstChild;
  folder->firstChild = node;
}

void ItemIndex::AttachPlaceholders(ItemNode* root) {
  if (root == nullptr || root->firstChild == nullptr) return;
  ItemNode* last = root->firstChild;
  while (last->next != nullptr)
    last = last->next;

  std::vector<const IndexLink*> stack;
  if (indexRoot_) stack.push_back(indexRoot_);
  while (!stack.empty()) {
    const IndexLink* link = stack.back();
    stack.pop_back();
    ItemNode* item = link->item;
    if (item->parentId == 0 && item->parent == nullptr && item != root) {
      item->next = nullptr;
      item->parent = root;
      item->parentId = root->id;
      last->next = item;
      last = item;
    }
    if (link->right) stack.push_back(link->right);
    if (link->left) stack.push_back(link->left);
  }
}

void ItemIndex::FreeIndex() {
  // Collect first: freeing one orphan frees the indexed folders below it.
  std::vector<ItemNode*> orphans;
  for (const IndexLink& link : links_) {
    if (link.item != treeRoot_ && link.item->parent == nullptr) orphans.push_back(link.item);
  }
  links_.clear();
  for (ItemNode* orphan : orphans)
    FreeTree(orphan);
  indexRoot_ = nullptr;
  treeRoot_ = nullptr;
}

}  // namespace restorix
