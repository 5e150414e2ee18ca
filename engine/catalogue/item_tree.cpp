#include "catalogue/item_tree.h"

#include <string>

#include "catalogue/item_index.h"

namespace restorix {

namespace {

// Deepest legitimate folder nesting followed when checking for a parent
// loop; anything deeper is treated as a loop.
constexpr int kMaxAncestorWalk = 1 << 16;

// Whether hanging `chain` (a node and its next siblings) under `folder`
// would make a loop: the folder is in the chain, or below one of its nodes.
bool WouldLoop(const ItemNode* folder, const ItemNode* chain) {
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

}  // namespace

ItemTree::ItemTree() = default;
ItemTree::~ItemTree() = default;
ItemTree::ItemTree(ItemTree&& other) noexcept
    : nodes_(std::move(other.nodes_)),
      free_(std::move(other.free_)),
      root_(std::exchange(other.root_, nullptr)),
      index_(std::move(other.index_)) {
  other.nodes_.clear();
  other.free_.clear();
}

ItemTree& ItemTree::operator=(ItemTree&& other) noexcept {
  if (this != &other) {
    nodes_ = std::move(other.nodes_);
    free_ = std::move(other.free_);
    root_ = std::exchange(other.root_, nullptr);
    index_ = std::move(other.index_);
    other.nodes_.clear();
    other.free_.clear();
  }
  return *this;
}

ItemNode* ItemTree::NewRoot() {
  index_.reset();
  free_.clear();
  nodes_.clear();
  root_ = NewNode();
  return root_;
}

ItemNode* ItemTree::StartScan(std::uint32_t rootId) {
  ItemNode* root = NewRoot();
  root->name = u".";
  root->flags = ItemFlags::Live | ItemFlags::Folder;
  root->id = rootId;
  root->parentId = rootId;
  index_ = std::make_unique<ItemIndex>(root);
  return root;
}

ItemNode* ItemTree::NewNode() {
  if (!free_.empty()) {
    ItemNode* node = free_.back();
    free_.pop_back();
    return node;
  }
  return &nodes_.emplace_back();
}

void ItemTree::Release(ItemNode* node) {
  *node = ItemNode{};
  free_.push_back(node);
}

void ItemTree::ReleaseSubtree(ItemNode* node) {
  // Work through a single list: a node's children are spliced in its place
  // before it is released, so no stack grows with the depth of the tree.
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
    Release(current);
  }
}

void ItemTree::Discard(ItemNode* chain) {
  while (chain != nullptr) {
    ItemNode* next = chain->next;
    ReleaseSubtree(chain);
    Release(chain);
    chain = next;
  }
}

void ItemTree::AddChild(ItemNode* folder, ItemNode* node) {
  AddChildAfter(folder, nullptr, node);
}

void ItemTree::AddChildAfter(ItemNode* folder, ItemNode* previous, ItemNode* node) {
  node->parent = folder;
  ItemNode*& link = previous ? previous->next : folder->firstChild;
  node->next = link;
  link = node;
}

void ItemTree::Detach(ItemNode* node) {
  ItemNode* folder = node->parent;
  if (folder == nullptr) return;
  for (ItemNode** link = &folder->firstChild; *link != nullptr; link = &(*link)->next) {
    if (*link == node) {
      *link = node->next;
      break;
    }
  }
  node->next = nullptr;
  node->parent = nullptr;
}

ItemNode* ItemTree::FolderIn(ItemNode* parent, const std::u16string& name) {
  for (ItemNode* child = parent->firstChild; child; child = child->next) {
    if (child->isFolder() && child->name == name) return child;
  }
  ItemNode* folder = NewNode();
  folder->name = name;
  folder->flags = ItemFlags::Live | ItemFlags::Folder;
  AddChild(parent, folder);
  return folder;
}

ItemNode* ItemTree::RegisterFolder(ItemNode* node) {
  return index_ ? index_->RegisterFolder(node) : node;
}

ItemNode* ItemTree::FindFolder(std::uint32_t id) const {
  return index_ ? index_->Find(id) : nullptr;
}

void ItemTree::Adopt(ItemNode* chain) {
  if (chain == nullptr || !index_) return;
  for (const ItemNode* n = chain; n != nullptr; n = n->next) {
    if (n == root_) return;  // the root hangs nowhere
  }
  ItemNode* folder = index_->Find(chain->parentId);
  if (folder != nullptr) {
    // A damaged volume can name a folder's own descendant (or itself) as its
    // parent; such a chain is hung under the root instead of into a loop.
    if (WouldLoop(folder, chain)) folder = root_;
  } else {
    folder = NewNode();
    folder->id = chain->parentId;
    folder->flags = ItemFlags::Folder;
    folder->name = u"#";
    for (const char digit : std::to_string(chain->parentId))
      folder->name += char16_t(digit);
    index_->RegisterFolder(folder);
  }
  ItemNode* last = chain;
  for (ItemNode* n = chain;; n = n->next) {
    n->parent = folder;
    last = n;
    if (n->next == nullptr) break;
  }
  last->next = folder->firstChild;
  folder->firstChild = chain;
}

void ItemTree::FinishScan() {
  if (!index_) return;
  // Placeholders that no record claimed, at the end of the root's children.
  if (root_ != nullptr && root_->firstChild != nullptr) {
    ItemNode* last = root_->firstChild;
    while (last->next != nullptr)
      last = last->next;
    index_->PreOrder([&](ItemNode* item) {
      if (item->parentId == 0 && item->parent == nullptr && item != root_) {
        item->next = nullptr;
        item->parent = root_;
        item->parentId = root_->id;
        last->next = item;
        last = item;
      }
    });
  }
  // Whatever still hangs nowhere (and what hangs below it) is let go. Collect
  // first: releasing one orphan releases the indexed folders below it.
  std::vector<ItemNode*> orphans;
  index_->PreOrder([&](ItemNode* item) {
    if (item != root_ && item->parent == nullptr) orphans.push_back(item);
  });
  index_.reset();
  for (ItemNode* orphan : orphans) {
    orphan->next = nullptr;
    Discard(orphan);
  }
  PruneEmptyFolders(root_);
}

void ItemTree::PruneEmptyFolders(ItemNode* folder) {
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
      Release(done);
    } else {
      parent.link = &done->next;
    }
  }
}

std::u16string ItemPath(const ItemNode& node) {
  std::vector<const ItemNode*> chain;
  for (const ItemNode* n = &node; n != nullptr && n->parent != nullptr; n = n->parent)
    chain.push_back(n);
  std::u16string path;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (!path.empty()) path += u'/';
    path += (*it)->name;
  }
  return path;
}

}  // namespace restorix
