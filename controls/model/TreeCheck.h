// Three-state check boxes on a tree: checking or unchecking an item marks
// its whole subtree the same way and recomputes every ancestor (checked
// when all boxed children are checked, unchecked when none are, mixed
// otherwise). Written over an abstract tree so that it runs on a tree-view
// control and, in the tests, on a tree in memory.
#pragma once

#include <cstdint>

namespace restorix {

// The index of the check-box image an item shows. The values are fixed:
// the results page compares them directly.
enum TreeCheckState : int {
  NoCheckBox = 0,  // no box; skipped by every comparison
  Unchecked = 1,
  Mixed = 2,
  Checked = 3,
};

// A tree as the check arithmetic sees it. Node 0 means "none".
class CheckTree {
 public:
  using Node = uintptr_t;
  virtual ~CheckTree() = default;
  virtual Node Parent(Node node) = 0;
  virtual Node FirstChild(Node node) = 0;
  virtual Node NextSibling(Node node) = 0;
  virtual Node PrevSibling(Node node) = 0;
  virtual TreeCheckState GetCheck(Node node) = 0;
  virtual void SetCheck(Node node, TreeCheckState state) = 0;
};

// The next node of a pre-order walk of `top`'s subtree (children right
// after their parent, siblings in order), or 0 when the walk is done.
// Needs no stack, so any depth is fine.
CheckTree::Node NextBelow(CheckTree& tree, CheckTree::Node top, CheckTree::Node node);

// Checked becomes Unchecked, anything else Checked; then the subtree and
// the ancestors follow. Returns the item's new state.
TreeCheckState ToggleCheck(CheckTree& tree, CheckTree::Node item);
// Gives every boxed descendant of `item` the state, in pre-order.
void SetChildCheck(CheckTree& tree, CheckTree::Node item, TreeCheckState state);
// Recomputes the ancestors of `item` after it took `state`.
void SetParentCheck(CheckTree& tree, CheckTree::Node item, TreeCheckState state);

}  // namespace restorix
