#include "app/core/RecoveryIds.h"

#include <set>

namespace restorix {

using Node = CheckTree::Node;

std::vector<ItemId> CollectRecoveryIds(CheckTree& tree, Node root, Node selected, const std::wstring& partitionName,
                                       const RecoverySources& sources) {
  std::vector<ItemId> ids;
  if (!root) return ids;
  auto folderOf = [&](Node node) {
    if (node == root) return partitionName + L"\\Deleted";
    return sources.folderOf ? sources.folderOf(node) : std::wstring();
  };
  // The root and the "Deleted" node below it name the same folder; each
  // folder is taken once, and the one the list shows only through its
  // checked rows, so an unchecked row stays out whichever node names it.
  const std::wstring shown = selected ? folderOf(selected) : std::wstring();
  std::set<std::wstring> taken;
  auto contribute = [&](Node node) {
    const std::wstring folder = folderOf(node);
    if (!taken.insert(folder).second) return;
    if (selected && folder == shown) {
      if (sources.checkedRows) sources.checkedRows(ids);
    } else if (sources.folderItems) {
      sources.folderItems(folder, ids);
    }
  };
  if (tree.GetCheck(root) == Checked) contribute(root);
  for (Node node = NextBelow(tree, root, root); node; node = NextBelow(tree, root, node)) {
    if (tree.GetCheck(node) == Checked) contribute(node);
  }
  if (ids.empty() && sources.checkedRows) sources.checkedRows(ids);
  return ids;
}

std::wstring TreeFolderPath(CheckTree& tree, Node root, Node node, const std::wstring& partitionName,
                            const std::function<std::wstring(Node)>& textOf) {
  if (node == root) return partitionName + L"\\Deleted";
  std::vector<Node> chain;
  for (Node n = node; n && n != root; n = tree.Parent(n)) chain.push_back(n);
  std::wstring path = partitionName;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    path += L'\\';
    path += textOf(*it);
  }
  return path;
}

}  // namespace restorix
