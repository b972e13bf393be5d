// A check-box tree in memory for the tests: nodes 1..n, 0 is "none".
// Every SetCheck is logged so tests can see the order of writes.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "controls/model/TreeCheck.h"

class MemoryCheckTree : public restorix::CheckTree {
 public:
  struct N {
    Node parent = 0;
    std::vector<Node> children;
    restorix::TreeCheckState state = restorix::Unchecked;
    std::wstring text;
  };

  MemoryCheckTree() : nodes(1) {}

  Node Add(Node parent, const std::wstring& text = L"", restorix::TreeCheckState s = restorix::Unchecked) {
    nodes.push_back(N{parent, {}, s, text});
    const Node id = nodes.size() - 1;
    if (parent) nodes[parent].children.push_back(id);
    return id;
  }

  Node Parent(Node node) override { return nodes[node].parent; }
  Node FirstChild(Node node) override { return nodes[node].children.empty() ? 0 : nodes[node].children.front(); }
  Node NextSibling(Node node) override { return Sibling(node, +1); }
  Node PrevSibling(Node node) override { return Sibling(node, -1); }
  restorix::TreeCheckState GetCheck(Node node) override { return nodes[node].state; }
  void SetCheck(Node node, restorix::TreeCheckState state) override {
    nodes[node].state = state;
    writes.emplace_back(node, state);
  }

  restorix::TreeCheckState operator[](Node node) const { return nodes[node].state; }
  std::wstring Text(Node node) const { return nodes[node].text; }

  std::vector<N> nodes;
  std::vector<std::pair<Node, restorix::TreeCheckState>> writes;

 private:
  Node Sibling(Node node, int step) {
    const Node parent = nodes[node].parent;
    if (!parent) return 0;
    const auto& sib = nodes[parent].children;
    for (size_t i = 0; i < sib.size(); ++i) {
      if (sib[i] != node) continue;
      if (step > 0) return i + 1 < sib.size() ? sib[i + 1] : 0;
      return i > 0 ? sib[i - 1] : 0;
    }
    return 0;
  }
};
