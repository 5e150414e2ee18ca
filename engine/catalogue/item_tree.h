// The one tree of found folders and files, and the id index that lets a
// scanner hang a child under a parent it meets later, or never.
//
// The tree keeps its linked shape (next sibling, first child, parent) because
// its order is what the views, the scan-information file and the recovered
// folders show. It owns its nodes; every walk that frees or prunes is
// iterative, so a deep or damaged tree cannot overflow the stack.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace restorix {

inline constexpr std::uint8_t ITEM_LIVE = 0x01;
inline constexpr std::uint8_t ITEM_FOLDER = 0x02;

inline constexpr std::uint8_t ORIGIN_FILE_SYSTEM = 0;
inline constexpr std::uint8_t ORIGIN_CARVED_RAW = 1;     // carved on a source without a file system
inline constexpr std::uint8_t ORIGIN_CARVED_VOLUME = 2;  // carved on a volume that has one

// Where an item's data lies: for NTFS the sector of the MFT record holding one
// of its $DATA attribute headers and that header's offset in the record; for
// an item carved from a raw disk or an NTFS volume, its first sector.
struct Extent {
  std::uint64_t start = 0;
  std::uint16_t length = 0;
  friend bool operator==(const Extent&, const Extent&) = default;
};

struct ItemNode {
  std::uint64_t size = 0;
  ItemNode* next = nullptr;
  ItemNode* firstChild = nullptr;
  ItemNode* parent = nullptr;
  std::vector<Extent> extents;
  std::uint32_t id = 0;  // first cluster (FAT), record number (NTFS), start sector (carved on FAT)
  std::uint32_t parentId = 0;    // 0 marks a placeholder folder not yet hung anywhere
  std::u16string name;           // at most 255 units
  std::uint16_t createDate = 0;  // FAT packed dates
  std::uint16_t accessDate = 0;
  std::uint8_t flags = 0;
  std::uint8_t checked = 0;
  std::uint8_t origin = ORIGIN_FILE_SYSTEM;

  bool isFolder() const { return (flags & ITEM_FOLDER) != 0; }
  std::uint8_t nameLength() const { return static_cast<std::uint8_t>(name.size()); }
};

// Visits every node below `root` in tree order (a node, then its children,
// then its next sibling) with its depth (1 for the root's children); the
// root itself is not visited. Iterative, whatever the depth.
template <typename Visit>
void WalkTree(const ItemNode* root, Visit&& visit) {
  if (root == nullptr || root->firstChild == nullptr) return;
  std::vector<std::pair<const ItemNode*, int>> pending{{root->firstChild, 1}};
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    visit(*node, depth);
    if (node->next) pending.push_back({node->next, depth});
    if (node->firstChild) pending.push_back({node->firstChild, depth + 1});
  }
}

// A new root folder "." (live folder) carrying the file system's root id.
ItemNode* MakeRootNode(std::uint32_t rootId);

// Frees every descendant of the node and clears its firstChild; the node stays.
void FreeSubtree(ItemNode* node);
// Frees the node and everything below it.
void FreeTree(ItemNode* node);
// Removes every folder below `folder` that ends up without children.
void PruneEmptyFolders(ItemNode* folder);

// One link of the height-balanced id index.
struct IndexLink {
  std::int8_t balance = 0;  // +1 left subtree higher, -1 right subtree higher
  ItemNode* item = nullptr;
  IndexLink* up = nullptr;
  IndexLink* left = nullptr;
  IndexLink* right = nullptr;
};

// The AVL index of folders by id, used while a scan runs. Its shape decides
// the order in which orphaned placeholder folders are hung under the root.
class ItemIndex {
 public:
  ItemIndex() = default;
  ItemIndex(const ItemIndex&) = delete;
  ItemIndex& operator=(const ItemIndex&) = delete;
  ~ItemIndex() { FreeIndex(); }

  // Starts an index holding the root.
  void Start(ItemNode* root);
  // Returns the indexed folder with the node's id, or indexes the node and
  // returns it.
  ItemNode* RegisterFolder(ItemNode* node);
  // Hangs the node and the siblings after it under the folder with the
  // node's parentId, or under a new placeholder folder "#<id>".
  void AttachToParent(ItemNode* node);
  // Hangs every placeholder still unclaimed at the end of the root's children,
  // in pre-order of the index. Without any root children nothing is hung.
  void AttachPlaceholders(ItemNode* root);
  // Frees the links. Placeholders that were never hung anywhere (and what
  // hangs below them) are freed with them, since nothing else owns them.
  void FreeIndex();

  const IndexLink* root() const { return indexRoot_; }
  ItemNode* Find(std::uint32_t id) const;

 private:
  struct Search {
    IndexLink* found = nullptr;
    IndexLink* last = nullptr;   // the last link visited
    IndexLink* pivot = nullptr;  // the last link with nonzero balance
  };
  Search Locate(std::uint32_t id) const;
  void Insert(ItemNode* node, const Search& search);
  void Rebalance(IndexLink* pivot, IndexLink* added);
  bool WouldLoop(const ItemNode* folder, const ItemNode* chain) const;

  std::deque<IndexLink> links_;
  IndexLink* indexRoot_ = nullptr;
  ItemNode* treeRoot_ = nullptr;
};

}  // namespace restorix
