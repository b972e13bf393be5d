// Three-state check propagation over a tree in memory.
#include <gtest/gtest.h>

#include <random>

#include "controls/model/TreeCheck.h"
#include "tests/app/MemoryCheckTree.h"

using namespace restorix;
using Node = CheckTree::Node;

namespace {

// A parent is Checked exactly when all its boxed children are, Unchecked
// exactly when all are, Mixed otherwise.
bool Consistent(const MemoryCheckTree& t) {
  for (Node n = 1; n < t.nodes.size(); ++n) {
    const auto& kids = t.nodes[n].children;
    if (kids.empty()) continue;
    bool allChecked = true, allUnchecked = true;
    for (Node k : kids) {
      allChecked = allChecked && t[k] == Checked;
      allUnchecked = allUnchecked && t[k] == Unchecked;
    }
    const TreeCheckState want = allChecked ? Checked : allUnchecked ? Unchecked : Mixed;
    if (t[n] != want) return false;
  }
  return true;
}

TEST(TreeCheck, ToggleSetsSubtreeAndNeverLeavesItemMixed) {
  MemoryCheckTree t;
  const Node top = t.Add(0, L"", Mixed);
  const Node a = t.Add(top, L"", Mixed);
  const Node a1 = t.Add(a, L"", Checked);
  const Node a2 = t.Add(a, L"", Unchecked);
  const Node a21 = t.Add(a2);
  EXPECT_EQ(ToggleCheck(t, a), Checked);  // Mixed -> Checked
  EXPECT_EQ(t[a1], Checked);
  EXPECT_EQ(t[a2], Checked);
  EXPECT_EQ(t[a21], Checked);
  EXPECT_EQ(t[top], Checked);  // a is its only child
  EXPECT_EQ(ToggleCheck(t, a), Unchecked);
  for (Node n : {top, a, a1, a2, a21}) EXPECT_EQ(t[n], Unchecked);

  // An item without a box becomes Checked too.
  const Node bare = t.Add(0, L"", NoCheckBox);
  EXPECT_EQ(ToggleCheck(t, bare), Checked);
}

TEST(TreeCheck, RootToggleTouchesOnlyItsSubtree) {
  MemoryCheckTree t;
  const Node r1 = t.Add(0);
  const Node c = t.Add(r1);
  const Node r2 = t.Add(0);
  const Node d = t.Add(r2);
  ToggleCheck(t, r1);
  EXPECT_EQ(t[r1], Checked);
  EXPECT_EQ(t[c], Checked);
  EXPECT_EQ(t[r2], Unchecked);
  EXPECT_EQ(t[d], Unchecked);
}

TEST(TreeCheck, SiblingsDecideParentAndMixedClimbsToTheTop) {
  // g -> { p -> {a, b, c}, q }, under a top item.
  MemoryCheckTree t;
  const Node top = t.Add(0);
  const Node g = t.Add(top);
  const Node p = t.Add(g);
  const Node a = t.Add(p), b = t.Add(p), c = t.Add(p);
  const Node q = t.Add(g);
  ToggleCheck(t, b);
  EXPECT_EQ(t[p], Mixed);
  EXPECT_EQ(t[g], Mixed);
  EXPECT_EQ(t[top], Mixed);
  ToggleCheck(t, a);
  EXPECT_EQ(t[p], Mixed);
  ToggleCheck(t, c);
  EXPECT_EQ(t[p], Checked);
  EXPECT_EQ(t[g], Mixed);  // q is still unchecked
  EXPECT_EQ(t[top], Mixed);
  ToggleCheck(t, q);
  EXPECT_EQ(t[g], Checked);
  EXPECT_EQ(t[top], Checked);
  // Unchecking one leaf again: parent and above mixed, siblings untouched.
  ToggleCheck(t, a);
  EXPECT_EQ(t[a], Unchecked);
  EXPECT_EQ(t[b], Checked);
  EXPECT_EQ(t[p], Mixed);
  EXPECT_EQ(t[g], Mixed);
  EXPECT_EQ(t[top], Mixed);
  EXPECT_TRUE(Consistent(t));
}

TEST(TreeCheck, MixedSiblingCountsAsDifferent) {
  MemoryCheckTree t;
  const Node p = t.Add(0);
  const Node x = t.Add(p);
  t.Add(x, L"", Checked);
  t.Add(x, L"", Unchecked);
  t.nodes[x].state = Mixed;
  const Node y = t.Add(p);
  ToggleCheck(t, y);
  EXPECT_EQ(t[p], Mixed);
  EXPECT_EQ(t[x], Mixed);
}

TEST(TreeCheck, OnlyChildrenCarryTheStateUpTheChain) {
  MemoryCheckTree t;
  const Node a = t.Add(0), b = t.Add(a), c = t.Add(b), d = t.Add(c);
  ToggleCheck(t, d);
  for (Node n : {a, b, c, d}) EXPECT_EQ(t[n], Checked);
  ToggleCheck(t, d);
  for (Node n : {a, b, c, d}) EXPECT_EQ(t[n], Unchecked);
}

TEST(TreeCheck, ItemsWithoutBoxesAreSkippedButWalkedThrough) {
  MemoryCheckTree t;
  const Node g = t.Add(0);
  const Node p = t.Add(g, L"", NoCheckBox);   // a boxless folder
  const Node y = t.Add(p);
  const Node z = t.Add(p, L"", NoCheckBox);  // a boxless sibling
  const Node z1 = t.Add(z);                  // a box below a boxless item
  ToggleCheck(t, y);
  EXPECT_EQ(t[p], NoCheckBox);
  EXPECT_EQ(t[g], Checked);  // the climb goes on past the boxless parent
  EXPECT_EQ(t[z], NoCheckBox);
  EXPECT_EQ(t[z1], Unchecked);

  ToggleCheck(t, g);  // unchecks everything boxed below, through p and z
  EXPECT_EQ(t[y], Unchecked);
  EXPECT_EQ(t[z1], Unchecked);
  ToggleCheck(t, g);
  EXPECT_EQ(t[z1], Checked);
  EXPECT_EQ(t[p], NoCheckBox);
  EXPECT_EQ(t[z], NoCheckBox);

  // A differing sibling of a boxless parent makes the boxed ancestors Mixed.
  MemoryCheckTree u;
  const Node top = u.Add(0);
  const Node bare = u.Add(top, L"", NoCheckBox);
  const Node leaf = u.Add(bare);
  u.Add(top);  // unchecked
  ToggleCheck(u, leaf);
  EXPECT_EQ(u[bare], NoCheckBox);
  EXPECT_EQ(u[top], Mixed);
}

TEST(TreeCheck, WritesItemThenSubtreePreorderThenAncestorsUpwards) {
  MemoryCheckTree t;
  const Node top = t.Add(0);
  const Node p = t.Add(top);
  const Node x = t.Add(p);
  const Node x1 = t.Add(x), x2 = t.Add(x);
  const Node x11 = t.Add(x1);
  const Node y = t.Add(x);  // appended after x's first children: x -> {x1, x2, y}
  ToggleCheck(t, x);
  std::vector<Node> order;
  for (const auto& w : t.writes) order.push_back(w.first);
  EXPECT_EQ(order, (std::vector<Node>{x, x1, x11, x2, y, p, top}));
}

TEST(TreeCheck, DeepTreesNeedNoStack) {
  MemoryCheckTree t;
  constexpr int kDepth = 200000;
  std::vector<Node> chain{t.Add(0)};
  for (int i = 1; i < kDepth; ++i) chain.push_back(t.Add(chain.back()));
  const Node side = t.Add(chain[0]);  // a sibling of chain[1]
  ToggleCheck(t, chain.back());
  EXPECT_EQ(t[chain[1]], Checked);
  EXPECT_EQ(t[chain[0]], Mixed);
  ToggleCheck(t, chain[0]);
  EXPECT_EQ(t[chain.back()], Checked);
  EXPECT_EQ(t[side], Checked);
  ToggleCheck(t, chain[kDepth / 2]);
  EXPECT_EQ(t[chain.back()], Unchecked);
  EXPECT_EQ(t[chain[kDepth / 2 - 1]], Unchecked);  // only children all the way up to chain[1]
  EXPECT_EQ(t[chain[0]], Mixed);                   // side is still checked
}

TEST(TreeCheck, RandomTogglesKeepEveryParentConsistent) {
  std::mt19937 rng(1234);
  for (int round = 0; round < 20; ++round) {
    MemoryCheckTree t;
    t.Add(0);
    for (int i = 0; i < 60; ++i) t.Add(1 + rng() % (t.nodes.size() - 1));
    ASSERT_TRUE(Consistent(t));
    for (int i = 0; i < 200; ++i) {
      ToggleCheck(t, 1 + rng() % (t.nodes.size() - 1));
      ASSERT_TRUE(Consistent(t)) << "round " << round << " toggle " << i;
    }
  }
}

}  // namespace
