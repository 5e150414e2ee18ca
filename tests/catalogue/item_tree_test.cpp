#include "catalogue/item_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <ranges>

#include "catalogue/item_index.h"
#include "support/test_support.h"

namespace restorix {
namespace {

using Shape = std::vector<std::pair<std::uint32_t, int>>;  // pre-order of (id, balance)

// Height below `link`, or -1 on a wrong balance, up link or order; collects
// the ids in order. The index is shallow, so recursion is fine here.
int Check(const IndexLink* link, const IndexLink* up, std::vector<std::uint32_t>& ids) {
  if (link == nullptr) return 0;
  const int left = Check(link->left, link, ids);
  if (left < 0 || link->up != up || (!ids.empty() && ids.back() >= link->item->id)) return -1;
  ids.push_back(link->item->id);
  const int right = Check(link->right, link, ids);
  if (right < 0 || link->balance != left - right || std::abs(left - right) > 1) return -1;
  return 1 + std::max(left, right);
}

Shape PreOrder(const IndexLink* link, Shape out = {}) {
  if (link == nullptr) return out;
  out.emplace_back(link->item->id, link->balance);
  return PreOrder(link->right, PreOrder(link->left, std::move(out)));
}

// A new node of the tree, in front of the folder's children unless
// `folder` is null.
ItemNode* Add(ItemTree& tree, ItemNode* folder, ItemFlags flags, std::u16string name = u"",
              std::uint32_t id = 0, std::uint32_t parentId = 0) {
  ItemNode* node = tree.NewNode();
  node->id = id, node->parentId = parentId, node->flags = flags, node->name = std::move(name);
  if (folder) tree.AddChild(folder, node);
  return node;
}

TEST(ItemIndex, StaysABalancedSearchTreeOfTheStandardShape) {
  const std::pair<std::vector<std::uint32_t>, Shape> shapes[] = {
      {{50, 20, 70, 10, 30, 25}, {{30, 0}, {20, 0}, {10, 0}, {25, 0}, {50, -1}, {70, 0}}},
      {{50, 20, 70, 10, 30, 35}, {{30, 0}, {20, 1}, {10, 0}, {50, 0}, {35, 0}, {70, 0}}},
      {{10, 5, 20, 30, 25}, {{10, -1}, {5, 0}, {25, 0}, {20, 0}, {30, 0}}},
  };
  std::mt19937 rng(0x5eed1234);
  for (std::uint32_t round = 0; round < 123; ++round) {
    // Rounds 0-2 give exact shapes, 3 and 4 sorted ids; the rest draw from a
    // range small enough to repeat ids.
    auto ids = round < 3 ? shapes[round].first : std::vector<std::uint32_t>(1 + rng() % 250);
    const auto n = static_cast<std::uint32_t>(ids.size());
    for (std::uint32_t i = 0; round >= 3 && i < n; ++i)
      ids[i] = round == 3 ? i + 1 : round == 4 ? n - i : 1 + rng() % (2 * n);
    SCOPED_TRACE(round);
    ItemTree tree;
    ItemNode* root = tree.StartScan(ids.front());
    ItemIndex index(root);
    std::map<std::uint32_t, ItemNode*> known{{root->id, root}};
    for (std::size_t i = 1; i < n; ++i) {
      ItemNode* node = Add(tree, nullptr, ItemFlags::Folder, u"", ids[i]);
      const auto [it, added] = known.emplace(ids[i], node);
      ASSERT_EQ(index.RegisterFolder(node), it->second);  // a known id gives the indexed folder
      ASSERT_EQ(index.Find(ids[i]), it->second);
      if (!added) tree.Discard(node);
      std::vector<std::uint32_t> inOrder;
      ASSERT_GE(Check(index.root(), nullptr, inOrder), 0) << "after " << ids[i];
      ASSERT_TRUE(std::ranges::equal(inOrder, std::views::keys(known)));
    }
    const Shape shape = PreOrder(index.root());
    if (round < 3) {
      EXPECT_EQ(shape, shapes[round].second);
    }
    // The index's own walk (which orders the unclaimed placeholders) visits
    // its links in the same pre-order.
    std::vector<std::uint32_t> visited;
    index.PreOrder([&](const ItemNode* item) { visited.push_back(item->id); });
    ASSERT_EQ(visited.size(), shape.size());
    for (std::size_t i = 0; i < shape.size(); ++i)
      ASSERT_EQ(visited[i], shape[i].first) << i;
  }
}

// Records fed the way the MFT scanner does (a folder claims the placeholder
// made for it), then the tree finished and pruned. Names with a dot are files.
TEST(ItemIndex, PlaceholdersClaimsParentLoopsAndPruning) {
  const std::pair<std::vector<std::tuple<std::uint32_t, std::uint32_t, std::u16string>>,
                  std::string>
      cases[] = {
          {{{40, 30, u"a.txt"}, {30, 60, u"Docs"}, {60, 5, u"Home"}}, ".+(Home(Docs(a.txt)))"},
          {{{10, 5, u"top.x"}, {11, 4000000000u, u"lost.x"}, {12, 0, u"zero"}, {13, 12, u"z.x"}},
           ".+(top.x #0(zero(z.x)) #4000000000(lost.x))"},
          // Index 100(5(-,50),200(-,300)): unclaimed ones are hung in pre-order.
          {{{10, 5, u"f.0"},
            {11, 100, u"f.1"},
            {12, 200, u"f.2"},
            {13, 300, u"f.3"},
            {14, 50, u"f.4"},
            {200, 5, u"Music"}},
           ".+(Music(f.2) f.0 #100(f.1) #50(f.4) #300(f.3))"},
          // Without root children nothing is hung; the index frees them.
          {{{11, 77, u"lost.txt"}, {12, 78, u"lost2.txt"}}, ".+()"},
          {{{20, 20, u"Self"}, {21, 20, u"in.x"}}, ".+(Self(in.x))"},
          {{{20, 30, u"A"}, {21, 20, u"in.a"}, {30, 20, u"B"}}, ".+(B(A(in.a)))"},
          {{{20, 30, u"A"}, {40, 20, u"C"}, {41, 40, u"in.c"}, {30, 40, u"B"}},
           ".+(B(A(C(in.c))))"},
          // Only folders with a file somewhere below stay.
          {{{20, 5, u"E1"},
            {21, 20, u"E2"},
            {22, 5, u"K"},
            {23, 22, u"F"},
            {24, 23, u"a.x"},
            {25, 22, u"E3"},
            {26, 5, u"b.x"},
            {27, 21, u"E4"}},
           ".+(b.x K(F(a.x)))"},
      };
  for (const auto& [records, tree] : cases) {
    SCOPED_TRACE(tree);
    ItemTree items;
    ItemNode* root = items.StartScan(5);
    for (const auto& [id, parentId, name] : records) {
      const bool folder = name.find(u'.') == std::u16string::npos;
      ItemNode* node =
          Add(items, nullptr, folder ? ItemFlags::Folder : ItemFlags::None, name, id, parentId);
      if (ItemNode* kept = folder ? items.RegisterFolder(node) : node; kept != node) {
        ASSERT_EQ(kept->parentId, 0u) << "a placeholder, not hung yet";
        kept->name = name, kept->parentId = parentId;
        items.Discard(std::exchange(node, kept));
      }
      items.Adopt(node);
    }
    items.FinishScan();
    EXPECT_FALSE(items.scanning());
    std::size_t visits = 0;  // a loop makes the walk endless
    ASSERT_NO_THROW(WalkTree(root, [&](const ItemNode& n, int) {
      if (++visits > 20) throw visits;
      EXPECT_TRUE(n.name[0] != u'#' || n.parentId == 5u) << "a hung placeholder";
    }));
    EXPECT_EQ(test::Render(root), tree);
  }
}

// A recursive walk would overflow the stack on these.
TEST(PruneEmptyFolders, AMillionNestedFoldersOrSiblingsWithoutRecursion) {
  constexpr std::uint32_t kMillion = 1'000'000;
  ItemTree tree;
  ItemNode* root = tree.NewRoot();
  ItemNode *empty = root, *at = root;  // two chains: one empty, one with a file at the bottom
  for (std::uint32_t i = 0; i < kMillion; ++i)
    empty = Add(tree, empty, ItemFlags::Folder), at = Add(tree, at, ItemFlags::Folder);
  const ItemNode* file = Add(tree, at, ItemFlags::None, u"file");
  tree.PruneEmptyFolders(root);
  std::uint32_t folders = 0;
  for (at = root->firstChild; at && at->isFolder(); at = at->firstChild)
    ++folders;
  EXPECT_EQ(folders, kMillion);
  EXPECT_EQ(root->firstChild->next, nullptr);
  EXPECT_EQ(at, file);
  root = tree.NewRoot();  // lets go of a million deep
  EXPECT_EQ(root->firstChild, nullptr);

  for (std::uint32_t i = kMillion; i > 0; --i)
    Add(tree, root, i % 2 ? ItemFlags::Folder : ItemFlags::None, u"", i);
  tree.PruneEmptyFolders(root);
  std::uint32_t files = 0;  // the even ids, in order
  for (const ItemNode* c = root->firstChild; c && c->id == 2 * files + 2; c = c->next)
    ++files;
  EXPECT_EQ(files, kMillion / 2);
}

}  // namespace
}  // namespace restorix
