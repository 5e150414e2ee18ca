// The one tree of found folders and files.
//
// The tree keeps its linked shape (next sibling, first child, parent) because
// its order is what the views, the scan-information file and the recovered
// folders show. It owns every node: nodes are made, linked, unlinked and let
// go only through it, and every walk that frees or prunes is iterative, so a
// deep or damaged tree cannot overflow the stack. While a scan runs, an id
// index lets a scanner hang a child under a parent it meets later, or never.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "util/item_time.h"

namespace restorix {

// Bits of ItemNode::flags. Other bits that a file system sets are kept as
// they are.
enum class ItemFlags : std::uint8_t { None = 0, Live = 0x01, Folder = 0x02 };
constexpr ItemFlags operator|(ItemFlags a, ItemFlags b) {
  return static_cast<ItemFlags>(static_cast<std::uint8_t>(a) | static_cast<std::uint8_t>(b));
}
constexpr ItemFlags operator&(ItemFlags a, ItemFlags b) {
  return static_cast<ItemFlags>(static_cast<std::uint8_t>(a) & static_cast<std::uint8_t>(b));
}
constexpr ItemFlags operator~(ItemFlags a) {
  return static_cast<ItemFlags>(~static_cast<std::uint8_t>(a));
}
constexpr bool Has(ItemFlags flags, ItemFlags bit) {
  return (flags & bit) != ItemFlags::None;
}

enum class ItemOrigin : std::uint8_t {
  FileSystem = 0,    // found through the file system's own structures
  CarvedRaw = 1,     // carved on a source without a file system
  CarvedVolume = 2,  // carved on a volume that has one
};

// One $DATA attribute of an NTFS item: the sector of the MFT record that
// holds its header and the header's offset in the record.
struct Extent {
  std::uint64_t start = 0;
  std::uint16_t length = 0;
  friend bool operator==(const Extent&, const Extent&) = default;
};

// Where an item's data lies.
struct NtfsRecord {
  std::uint32_t number = 0;
  std::vector<Extent> extents;
  // The record's sequence number when the scan read it; scan-information
  // files do not keep it.
  std::optional<std::uint16_t> sequence = std::nullopt;
};
struct FatChain {
  std::uint32_t firstCluster = 0;
  // exFAT: the file's clusters follow one another and the FAT holds no
  // chain for them.
  bool contiguous = false;
};
struct Carved {
  std::uint64_t firstSector = 0;
};
using ItemLocation = std::variant<std::monostate, NtfsRecord, FatChain, Carved>;

// How much of a deleted file the volume still holds, from what its
// allocation structures say now: the share of the file's clusters still
// free, and whether its record or entry was reused. Worked out after a scan
// and after a saved scan's source is opened again; scan-information files
// do not keep it.
enum class Recoverable : std::uint8_t { Unknown = 0, Intact, Partial, Overwritten };
struct Recoverability {
  Recoverable state = Recoverable::Unknown;
  std::uint8_t percent = 0;  // of the file's clusters still free
};

struct ItemNode {
  // The bytes the item gives: what the disk claims, cut to what its data on
  // the volume holds (see CutClaimedSizes).
  std::uint64_t size = 0;
  // What the disk claims where that is more than `size`; 0 when nothing was
  // cut. Scan-information files keep the claim of a file system's item.
  std::uint64_t claimedSize = 0;
  ItemNode* next = nullptr;
  ItemNode* firstChild = nullptr;
  ItemNode* parent = nullptr;
  // The on-disk identity: first cluster (FAT), record number (NTFS), the low
  // 32 bits of the first sector for an item carved on a FAT volume. Folders
  // are found by it while a scan runs.
  std::uint32_t id = 0;
  std::uint32_t parentId = 0;    // 0 marks a placeholder folder not yet hung anywhere
  std::u16string name;           // at most 255 units
  std::uint16_t createDate = 0;  // FAT packed dates
  std::uint16_t accessDate = 0;
  // The full times where the file system keeps them; not stored in
  // scan-information files.
  ItemTimes times;
  ItemFlags flags = ItemFlags::None;
  std::uint8_t checked = 0;
  ItemOrigin origin = ItemOrigin::FileSystem;
  ItemLocation location;
  Recoverability recoverable;

  bool isFolder() const { return Has(flags, ItemFlags::Folder); }
  bool isLive() const { return Has(flags, ItemFlags::Live); }
  bool isCarved() const { return origin != ItemOrigin::FileSystem; }
  std::uint8_t nameLength() const { return static_cast<std::uint8_t>(name.size()); }
};

// Visits every node below `root` in tree order (a node, then its children,
// then its next sibling) with its depth (1 for the root's children); the
// root itself is not visited. Iterative, whatever the depth.
template <typename Node, typename Visit>
void WalkTree(Node* root, Visit&& visit) {
  if (root == nullptr || root->firstChild == nullptr) return;
  std::vector<std::pair<Node*, int>> pending{{root->firstChild, 1}};
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    visit(*node, depth);
    if (node->next) pending.push_back({node->next, depth});
    if (node->firstChild) pending.push_back({node->firstChild, depth + 1});
  }
}

// The item's path: the names from below the root joined with "/".
std::u16string ItemPath(const ItemNode& node);

class ItemIndex;

class ItemTree {
 public:
  ItemTree();
  ~ItemTree();
  ItemTree(ItemTree&&) noexcept;
  ItemTree& operator=(ItemTree&&) noexcept;
  ItemTree(const ItemTree&) = delete;
  ItemTree& operator=(const ItemTree&) = delete;

  ItemNode* root() { return root_; }
  const ItemNode* root() const { return root_; }

  // Replaces the whole tree by a blank root node.
  ItemNode* NewRoot();
  // Replaces the whole tree by the root folder "." (live folder) carrying
  // the file system's root id, and starts the folder index with it.
  ItemNode* StartScan(std::uint32_t rootId);

  // A blank node the tree owns, not linked anywhere yet.
  ItemNode* NewNode();
  // Lets go of a node that was never linked, and of the siblings after it.
  void Discard(ItemNode* chain);

  // Puts `node` in front of the folder's children.
  void AddChild(ItemNode* folder, ItemNode* node);
  // Puts `node` after `previous` among the folder's children (first when
  // `previous` is null).
  void AddChildAfter(ItemNode* folder, ItemNode* previous, ItemNode* node);
  // Takes a node out of its parent's children; it stays the tree's.
  void Detach(ItemNode* node);
  // The child folder of `parent` named `name`, made (live folder, at the
  // head of the children) when there is none.
  ItemNode* FolderIn(ItemNode* parent, const std::u16string& name);

  // While a scan runs. Returns the indexed folder with the node's id, or
  // indexes the node and returns it.
  ItemNode* RegisterFolder(ItemNode* node);
  // Hangs the node and the siblings after it under the folder with the
  // node's parentId, or under a new placeholder folder "#<id>".
  void Adopt(ItemNode* chain);
  ItemNode* FindFolder(std::uint32_t id) const;
  // Ends a scan, whether it ran to its end or not: hangs the placeholders
  // still unclaimed at the end of the root's children (in pre-order of the
  // index; none when the root has no children), drops the index, and
  // removes every folder below the root that holds no file.
  void FinishScan();
  bool scanning() const { return index_ != nullptr; }

  // Removes every folder below `folder` that ends up without children.
  void PruneEmptyFolders(ItemNode* folder);

 private:
  void Release(ItemNode* node);
  void ReleaseSubtree(ItemNode* node);

  std::deque<ItemNode> nodes_;
  std::vector<ItemNode*> free_;
  ItemNode* root_ = nullptr;
  std::unique_ptr<ItemIndex> index_;
};

}  // namespace restorix
