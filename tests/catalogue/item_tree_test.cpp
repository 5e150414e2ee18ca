#include "catalogue/item_tree.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace restorix {
namespace {

// Checks balance, `up` links and ordering below `link`; returns its height.
// The index is shallow (about 1.44 log n), so recursion is fine here.
int CheckLinks(const IndexLink* link, const IndexLink* up, std::vector<std::uint32_t>& inOrder,
               std::string& error) {
  if (link == nullptr || !error.empty()) return 0;
  const std::uint32_t id = link->item->id;
  if (link->up != up) error = "wrong up link at id " + std::to_string(id);
  const int left = CheckLinks(link->left, link, inOrder, error);
  if (!inOrder.empty() && inOrder.back() >= id && error.empty())
    error = "out of order at " + std::to_string(id);
  inOrder.push_back(id);
  const int right = CheckLinks(link->right, link, inOrder, error);
  if (error.empty() && (link->balance != left - right || left - right < -1 || left - right > 1)) {
    error = "id " + std::to_string(id) + ": balance " + std::to_string(link->balance) +
            ", heights " + std::to_string(left) + "/" + std::to_string(right);
  }
  return 1 + std::max(left, right);
}

::testing::AssertionResult IndexIsValid(const ItemIndex& index,
                                        std::vector<std::uint32_t>& inOrder) {
  inOrder.clear();
  std::string error;
  CheckLinks(index.root(), nullptr, inOrder, error);
  return error.empty() ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << error;
}

void PreOrder(const IndexLink* link, std::vector<std::pair<std::uint32_t, int>>& out) {
  if (link == nullptr) return;
  out.emplace_back(link->item->id, link->balance);
  PreOrder(link->left, out);
  PreOrder(link->right, out);
}

std::vector<std::pair<std::uint32_t, int>> PreOrder(const ItemIndex& index) {
  std::vector<std::pair<std::uint32_t, int>> out;
  PreOrder(index.root(), out);
  return out;
}

ItemNode* NewNode(std::uint32_t id, std::uint32_t parentId, std::uint8_t flags,
                  std::u16string name = u"") {
  auto* node = new ItemNode;
  node->id = id;
  node->parentId = parentId;
  node->flags = flags;
  node->name = std::move(name);
  node->size = node->isFolder() ? 0 : 1;
  return node;
}

// Appends a child at the end of the folder's list.
ItemNode* Add(ItemNode* folder, std::u16string name, std::uint8_t flags) {
  ItemNode* child = NewNode(0, folder->id, flags, std::move(name));
  child->parent = folder;
  ItemNode** link = &folder->firstChild;
  while (*link != nullptr)
    link = &(*link)->next;
  *link = child;
  return child;
}

// Walks the tree without recursion and fails on a node met twice, on a
// parent pointer that disagrees with the list holding the node, or on a node
// count other than `expectedCount` (the root included).
::testing::AssertionResult WalkOnce(const ItemNode* root, std::size_t expectedCount) {
  std::unordered_set<const ItemNode*> seen{root};
  std::vector<const ItemNode*> pending{root};
  while (!pending.empty()) {
    const ItemNode* node = pending.back();
    pending.pop_back();
    for (const ItemNode* c = node->firstChild; c != nullptr; c = c->next) {
      if (!seen.insert(c).second) return ::testing::AssertionFailure() << "node met twice";
      if (c->parent != node) return ::testing::AssertionFailure() << "parent pointer mismatch";
      pending.push_back(c);
    }
  }
  if (seen.size() != expectedCount) {
    return ::testing::AssertionFailure()
           << "visited " << seen.size() << ", expected " << expectedCount;
  }
  return ::testing::AssertionSuccess();
}

// What the MFT scanner does with a folder record: register it, merge it
// into a placeholder that came back, then hang the node that stays.
ItemNode* ScanFolder(ItemIndex& index, std::uint32_t id, std::uint32_t parentId,
                     std::u16string name) {
  ItemNode* node = NewNode(id, parentId, ITEM_FOLDER, std::move(name));
  node->createDate = 0x5A21;
  node->accessDate = 0x5A22;
  ItemNode* kept = index.RegisterFolder(node);
  if (kept != node) {
    kept->accessDate = node->accessDate;
    kept->createDate = node->createDate;
    kept->parentId = node->parentId;
    kept->id = node->id;
    kept->flags = node->flags;
    kept->name = node->name;
    delete node;
  }
  index.AttachToParent(kept);
  return kept;
}

ItemNode* ScanFile(ItemIndex& index, std::uint32_t id, std::uint32_t parentId,
                   std::u16string name) {
  ItemNode* node = NewNode(id, parentId, 0, std::move(name));
  index.AttachToParent(node);
  return node;
}

// A scan in progress over an NTFS-like volume with root id 5.
class ScanTree : public ::testing::Test {
 protected:
  void SetUp() override { index.Start(root); }
  void TearDown() override {
    index.FreeIndex();
    FreeTree(root);
  }
  ItemNode* root = MakeRootNode(5);
  ItemIndex index;
};

TEST(MakeRootNode, IsLiveFolderNamedDotCarryingTheRootId) {
  for (const std::uint32_t rootId : {5u, 1u, 2u}) {
    ItemNode* root = MakeRootNode(rootId);
    EXPECT_EQ(root->name, u".");
    EXPECT_EQ(root->nameLength(), 1);
    EXPECT_EQ(root->flags, ITEM_LIVE | ITEM_FOLDER);
    EXPECT_EQ(root->id, rootId);
    EXPECT_EQ(root->parentId, rootId);
    FreeTree(root);
  }
}

struct ShapeCase {
  const char* what;
  std::vector<std::uint32_t> order;  // the first id is the root's
  std::vector<std::pair<std::uint32_t, int>> preOrder;
};

TEST(ItemIndex, RotationsGiveTheExpectedShape) {
  const ShapeCase cases[] = {
      {"single rotation left", {1, 2, 3}, {{2, 0}, {1, 0}, {3, 0}}},
      {"single rotation right", {3, 2, 1}, {{2, 0}, {1, 0}, {3, 0}}},
      {"double rotation left-right", {3, 1, 2}, {{2, 0}, {1, 0}, {3, 0}}},
      {"double rotation right-left", {1, 3, 2}, {{2, 0}, {1, 0}, {3, 0}}},
      {"grandchild leans to the child",
       {50, 20, 70, 10, 30, 25},
       {{30, 0}, {20, 0}, {10, 0}, {25, 0}, {50, -1}, {70, 0}}},
      {"grandchild leans to the pivot",
       {50, 20, 70, 10, 30, 35},
       {{30, 0}, {20, 1}, {10, 0}, {50, 0}, {35, 0}, {70, 0}}},
      {"mirror, grandchild leans to the child",
       {20, 10, 50, 40, 70, 45},
       {{40, 0}, {20, 1}, {10, 0}, {50, 0}, {45, 0}, {70, 0}}},
      {"mirror, grandchild leans to the pivot",
       {20, 10, 50, 40, 70, 35},
       {{40, 0}, {20, 0}, {10, 0}, {35, 0}, {50, -1}, {70, 0}}},
      {"single rotation below the index root",
       {10, 5, 20, 30, 40},
       {{10, -1}, {5, 0}, {30, 0}, {20, 0}, {40, 0}}},
      {"double rotation below the index root",
       {10, 5, 20, 30, 25},
       {{10, -1}, {5, 0}, {25, 0}, {20, 0}, {30, 0}}},
  };
  for (const ShapeCase& c : cases) {
    SCOPED_TRACE(c.what);
    ItemNode* root = MakeRootNode(c.order.front());
    ItemIndex index;
    index.Start(root);
    for (std::size_t i = 1; i < c.order.size(); ++i) {
      ItemNode* node = NewNode(c.order[i], 0, ITEM_FOLDER);
      EXPECT_EQ(index.RegisterFolder(node), node);
    }
    std::vector<std::uint32_t> inOrder;
    EXPECT_TRUE(IndexIsValid(index, inOrder));
    EXPECT_EQ(PreOrder(index), c.preOrder);
    index.FreeIndex();  // also frees the registered nodes, none of which is hung
    FreeTree(root);
  }
}

TEST(ItemIndex, StaysBalancedUnderRandomInsertionOrders) {
  std::mt19937 rng(0x5eed1234);
  for (int round = 0; round < 120; ++round) {
    const std::uint32_t count = 1 + rng() % 250;
    std::vector<std::uint32_t> ids(count);
    for (std::uint32_t i = 0; i < count; ++i) {
      // Rounds 0 and 1 are the sorted worst cases; the rest draw from a
      // range small enough to repeat ids.
      ids[i] = round == 0 ? i + 1 : round == 1 ? count - i : 1 + rng() % (count * 2);
    }
    SCOPED_TRACE("round " + std::to_string(round));
    ItemNode* root = MakeRootNode(ids.front());
    ItemIndex index;
    index.Start(root);
    std::map<std::uint32_t, ItemNode*> expected{{root->id, root}};
    std::vector<std::uint32_t> inOrder;
    for (std::size_t i = 1; i < ids.size(); ++i) {
      const auto known = expected.find(ids[i]);
      if (known != expected.end()) {
        // The pre-order of ids and balances pins down the whole shape.
        const auto before = PreOrder(index);
        ItemNode probe;
        probe.id = ids[i];
        ASSERT_EQ(index.RegisterFolder(&probe), known->second);
        ASSERT_EQ(PreOrder(index), before)
            << "re-registering id " << ids[i] << " changed the index";
        ASSERT_EQ(index.Find(ids[i]), known->second);
        continue;
      }
      ItemNode* node = NewNode(ids[i], 0, ITEM_FOLDER);
      ASSERT_EQ(index.RegisterFolder(node), node);
      expected.emplace(ids[i], node);
      ASSERT_TRUE(IndexIsValid(index, inOrder)) << "after inserting " << ids[i];
      std::vector<std::uint32_t> keys;
      for (const auto& entry : expected)
        keys.push_back(entry.first);
      ASSERT_EQ(inOrder, keys);
    }
    index.FreeIndex();
    FreeTree(root);
  }
}

TEST_F(ScanTree, ChildBeforeParentHangsUnderAPlaceholderThatTheParentClaims) {
  ItemNode* file = ScanFile(index, 40, 30, u"a.txt");
  ItemNode* placeholder = file->parent;
  EXPECT_EQ(placeholder->name, u"#30");
  EXPECT_EQ(placeholder->id, 30u);
  EXPECT_EQ(placeholder->parentId, 0u);
  EXPECT_EQ(placeholder->flags, ITEM_FOLDER);
  EXPECT_EQ(placeholder->parent, nullptr);
  EXPECT_EQ(placeholder->firstChild, file);
  EXPECT_EQ(index.Find(30), placeholder);

  // Folder 30 names a parent that is not known either, then that one arrives.
  ItemNode* docs = ScanFolder(index, 30, 60, u"Docs");
  EXPECT_EQ(docs, placeholder);
  EXPECT_EQ(docs->parent->name, u"#60");

  ItemNode* home = ScanFolder(index, 60, 5, u"Home");
  EXPECT_EQ(home, docs->parent);
  EXPECT_EQ(home->flags, ITEM_FOLDER);
  EXPECT_EQ(home->createDate, 0x5A21);
  EXPECT_EQ(home->accessDate, 0x5A22);

  index.AttachPlaceholders(root);  // nothing left unclaimed
  EXPECT_TRUE(WalkOnce(root, 4));
  EXPECT_EQ(test::Render(root), ".(Home(Docs(a.txt)))");
}

TEST_F(ScanTree, UnclaimedPlaceholdersEndUpUnderTheRoot) {
  ScanFile(index, 10, 5, u"top.txt");
  ScanFile(index, 11, 4000000000u, u"lost.txt");
  // A damaged record naming parent 0 hangs under "#0"; it carries parentId 0
  // as well but is already hung, so it must not be hung a second time.
  ScanFolder(index, 12, 0, u"zero");
  index.AttachPlaceholders(root);
  ASSERT_TRUE(WalkOnce(root, 6));
  EXPECT_EQ(test::Render(root), ".(top.txt #0(zero()) #4000000000(lost.txt))");
  const ItemNode* placeholder = root->firstChild->next->next;
  EXPECT_EQ(placeholder->flags, ITEM_FOLDER);
  EXPECT_EQ(placeholder->parentId, 5u);
}

TEST_F(ScanTree, PlaceholdersAreHungInPreOrderOfTheIndex) {
  ScanFile(index, 10, 5, u"f0");
  ScanFile(index, 11, 100, u"f1");
  ScanFile(index, 12, 200, u"f2");
  ScanFile(index, 13, 300, u"f3");
  ScanFile(index, 14, 50, u"f4");
  const std::vector<std::pair<std::uint32_t, int>> shape = {
      {100, 0}, {5, -1}, {50, 0}, {200, -1}, {300, 0}};
  ASSERT_EQ(PreOrder(index), shape);

  ScanFolder(index, 200, 5, u"Music");  // claimed: hung in front, not again at the end
  index.AttachPlaceholders(root);
  ASSERT_TRUE(WalkOnce(root, 10));
  EXPECT_EQ(test::Render(root), ".(Music(f2) f0 #100(f1) #50(f4) #300(f3))");
  for (const ItemNode* c = root->firstChild; c != nullptr; c = c->next)
    EXPECT_EQ(c->parentId, 5u);
}

TEST_F(ScanTree, WithoutRootChildrenPlaceholdersStayOutAndAreFreedWithTheIndex) {
  ItemNode* file = ScanFile(index, 11, 77, u"lost.txt");
  ScanFile(index, 12, 78, u"lost2.txt");
  index.AttachPlaceholders(root);
  EXPECT_EQ(root->firstChild, nullptr);
  EXPECT_EQ(file->parent->parent, nullptr);
  EXPECT_EQ(file->parent->parentId, 0u);
  // TearDown's FreeIndex must free both placeholders and their files; the
  // sanitizer build reports a leak otherwise.
}

TEST_F(ScanTree, AttachToParentHangsAWholeSiblingChainInFront) {
  ItemNode* folder = ScanFolder(index, 30, 5, u"X");
  ScanFile(index, 31, 30, u"old");
  for (const std::uint32_t parentId : {30u, 99u}) {
    SCOPED_TRACE(parentId);
    ItemNode* a = NewNode(41, parentId, 0, u"a");
    a->next = NewNode(42, parentId, 0, u"b");
    a->next->next = NewNode(43, parentId, 0, u"c");
    index.AttachToParent(a);
    ItemNode* target = index.Find(parentId);
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(target->firstChild, a);
    for (const ItemNode* c = a; c != nullptr; c = c->next)
      EXPECT_EQ(c->parent, target);
  }
  EXPECT_EQ(test::Render(folder), "X(a b c old)");
  EXPECT_EQ(test::Render(index.Find(99)), "#99(a b c)");
}

struct Record {
  std::uint32_t id, parentId;
  std::u16string name;
  bool folder;
};

TEST(ItemIndex, ParentLoopsAreHungUnderTheRoot) {
  const struct {
    const char* what;
    std::vector<Record> records;
    std::size_t nodes;
    const char* tree;
  } cases[] = {
      {"folder naming itself", {{20, 20, u"Self", true}, {21, 20, u"in", false}}, 3, ".(Self(in))"},
      // The placeholder for 30 holds A; B then claims it and names A.
      {"two folders naming each other",
       {{20, 30, u"A", true}, {21, 20, u"in-a", false}, {30, 20, u"B", true}},
       4,
       ".(B(A(in-a)))"},
      {"folder naming its grandchild",
       {{20, 30, u"A", true}, {40, 20, u"C", true}, {41, 40, u"in-c", false}, {30, 40, u"B", true}},
       5,
       ".(B(A(C(in-c))))"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ItemNode* root = MakeRootNode(5);
    ItemIndex index;
    index.Start(root);
    for (const Record& r : c.records) {
      r.folder ? ScanFolder(index, r.id, r.parentId, r.name)
               : ScanFile(index, r.id, r.parentId, r.name);
    }
    index.AttachPlaceholders(root);
    index.FreeIndex();
    const ::testing::AssertionResult walked = WalkOnce(root, c.nodes);
    EXPECT_TRUE(walked);
    if (!walked) continue;  // a looped tree cannot be rendered or freed
    EXPECT_EQ(test::Render(root), c.tree);
    FreeTree(root);
  }
}

TEST(PruneEmptyFolders, KeepsOnlyFoldersWithAFileBelow) {
  ItemNode* root = MakeRootNode(5);
  Add(root, u"E1", ITEM_FOLDER);
  Add(Add(Add(root, u"K", ITEM_FOLDER | ITEM_LIVE), u"F1", ITEM_FOLDER), u"a", 0);
  Add(root, u"f", ITEM_LIVE);
  Add(Add(Add(root, u"E2", ITEM_FOLDER), u"E3", ITEM_FOLDER), u"E4", ITEM_FOLDER | ITEM_LIVE);
  ItemNode* mixed = Add(root, u"M", ITEM_FOLDER);
  Add(mixed, u"E5", ITEM_FOLDER);
  Add(mixed, u"b", 0);
  Add(Add(mixed, u"E6", ITEM_FOLDER), u"E7", ITEM_FOLDER);
  Add(root, u"g", 0);

  PruneEmptyFolders(root);
  ASSERT_TRUE(WalkOnce(root, 8));
  EXPECT_EQ(test::Render(root), ".(K(F1(a)) f M(b) g)");

  // A root holding only empty folders stays, empty.
  FreeSubtree(root);
  Add(Add(root, u"E", ITEM_FOLDER), u"E", ITEM_FOLDER);
  PruneEmptyFolders(root);
  EXPECT_EQ(test::Render(root), ".()");
  FreeTree(root);
}

constexpr std::uint32_t kMillion = 1'000'000;

// Nests `depth` folders below `top` and returns the innermost.
ItemNode* NestFolders(ItemNode* top, std::uint32_t depth) {
  ItemNode* at = top;
  for (std::uint32_t i = 0; i < depth; ++i) {
    ItemNode* folder = NewNode(100 + i, at->id, ITEM_FOLDER);
    folder->parent = at;
    at->firstChild = folder;
    at = folder;
  }
  return at;
}

TEST(DeepTree, FreeAndPruneAMillionNestedFolders) {
  ItemNode* root = MakeRootNode(5);
  NestFolders(root, kMillion);
  FreeSubtree(root);
  EXPECT_EQ(root->firstChild, nullptr);

  NestFolders(root, kMillion);
  PruneEmptyFolders(root);
  EXPECT_EQ(root->firstChild, nullptr);

  Add(NestFolders(root, kMillion), u"file", 0);
  PruneEmptyFolders(root);
  std::uint32_t folders = 0;
  const ItemNode* at = root->firstChild;
  for (; at != nullptr && at->isFolder(); at = at->firstChild)
    ++folders;
  EXPECT_EQ(folders, kMillion);
  ASSERT_NE(at, nullptr);
  EXPECT_EQ(at->name, u"file");
  FreeTree(root);
}

TEST(DeepTree, PruneAndFreeAMillionSiblings) {
  ItemNode* root = MakeRootNode(5);
  ItemNode** tail = &root->firstChild;
  for (std::uint32_t i = 0; i < kMillion; ++i) {
    ItemNode* child = NewNode(100 + i, 5, i % 2 == 0 ? ITEM_FOLDER : 0);
    child->parent = root;
    *tail = child;
    tail = &child->next;
  }
  PruneEmptyFolders(root);
  std::uint32_t files = 0;
  std::uint32_t lastId = 0;
  bool ordered = true;
  for (const ItemNode* c = root->firstChild; c != nullptr; c = c->next) {
    ++files;
    ordered = ordered && !c->isFolder() && c->id > lastId;
    lastId = c->id;
  }
  EXPECT_EQ(files, kMillion / 2);
  EXPECT_TRUE(ordered);
  FreeTree(root);
}

}  // namespace
}  // namespace restorix
