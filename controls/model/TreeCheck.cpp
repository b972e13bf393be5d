#include "controls/model/TreeCheck.h"

namespace restorix {

using Node = CheckTree::Node;

Node NextBelow(CheckTree& tree, Node top, Node node) {
  if (Node child = tree.FirstChild(node)) return child;
  while (node && node != top) {
    if (Node next = tree.NextSibling(node)) return next;
    node = tree.Parent(node);
  }
  return 0;
}

TreeCheckState ToggleCheck(CheckTree& tree, Node item) {
  const TreeCheckState now = tree.GetCheck(item) == Checked ? Unchecked : Checked;
  tree.SetCheck(item, now);
  SetChildCheck(tree, item, now);
  SetParentCheck(tree, item, now);
  return now;
}

void SetChildCheck(CheckTree& tree, Node item, TreeCheckState state) {
  // Boxless nodes are walked through too, so boxes below them are reached.
  for (Node node = NextBelow(tree, item, item); node; node = NextBelow(tree, item, node)) {
    if (tree.GetCheck(node) != NoCheckBox) tree.SetCheck(node, state);
  }
}

namespace {
bool SiblingDiffers(CheckTree& tree, Node item, TreeCheckState state) {
  for (Node s = tree.NextSibling(item); s; s = tree.NextSibling(s)) {
    const TreeCheckState c = tree.GetCheck(s);
    if (c != NoCheckBox && c != state) return true;
  }
  for (Node s = tree.PrevSibling(item); s; s = tree.PrevSibling(s)) {
    const TreeCheckState c = tree.GetCheck(s);
    if (c != NoCheckBox && c != state) return true;
  }
  return false;
}
}  // namespace

void SetParentCheck(CheckTree& tree, Node item, TreeCheckState state) {
  for (Node node = item;;) {
    const Node parent = tree.Parent(node);
    if (!parent) return;
    if (SiblingDiffers(tree, node, state)) {
      // Once a level is mixed, everything above it is.
      for (Node up = parent; up; up = tree.Parent(up))
        if (tree.GetCheck(up) != NoCheckBox) tree.SetCheck(up, Mixed);
      return;
    }
    if (tree.GetCheck(parent) != NoCheckBox) tree.SetCheck(parent, state);
    node = parent;
  }
}

}  // namespace restorix
