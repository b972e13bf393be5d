// The results' two ordered indexes: the set of folders that hold found
// items, and folder -> item id. Both compare keys by plain code-unit order,
// so "C:\Deleted\A" and "C:\Deleted\a" are two keys; the folder tree built
// from them merges such keys into one node (names compared ignoring case).
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace restorix {

struct ItemId {
  uint32_t low = 0;
  uint32_t high = 0;
  bool operator==(const ItemId& o) const { return low == o.low && high == o.high; }
};

class FolderIndex {
 public:
  void Clear();
  // Files the item under the folder of its path (the path less its last
  // component). Duplicates are kept, in the order they are added.
  void Add(const std::wstring& itemPath, ItemId id);

  const std::set<std::wstring>& Folders() const { return m_folders; }
  size_t ItemCount() const { return m_items.size(); }
  // The ids filed under exactly this folder, in index order.
  std::vector<ItemId> ItemsIn(const std::wstring& folder) const;
  // The ids of every folder the tree shows as this one's node: the folders
  // equal to it ignoring case, in folder order, each in index order.
  std::vector<ItemId> ItemsInNode(const std::wstring& folder) const;

 private:
  std::set<std::wstring> m_folders;
  std::multimap<std::wstring, ItemId> m_items;
};

// A tree of text nodes, as a tree-view control holds them. Node 0 stands
// for "none" as a result and for the top level as a parent.
class TextTree {
 public:
  using Node = uintptr_t;
  virtual ~TextTree() = default;
  virtual Node FirstChild(Node parent) = 0;
  virtual Node NextSibling(Node node) = 0;
  virtual std::wstring Text(Node node) = 0;
  // Appends a child; returns 0 when the tree refused it.
  virtual Node InsertChild(Node parent, const std::wstring& text) = 0;
};

// Hangs one folder path into the tree component by component, starting at
// the top level: an existing node whose text equals the component ignoring
// case is reused, a missing one is appended. Returns the folder's node.
TextTree::Node MergeFolderIntoTree(TextTree& tree, const std::wstring& folder);

// Case-insensitive equality for folder names: ASCII, Latin-1, Greek and
// Cyrillic letters fold to upper case, as the file systems we read do.
bool SameNameIgnoringCase(const std::wstring& a, const std::wstring& b);
wchar_t FoldToUpper(wchar_t c);

}  // namespace restorix
