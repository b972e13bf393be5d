// Which items a press of the recover button takes: the checked folders of
// the results tree (each folder's own files) and, for the folder shown in
// the list, only the rows left checked there.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/core/FolderIndex.h"
#include "controls/model/TreeCheck.h"

namespace restorix {

struct RecoverySources {
  // Appends the ids of the list's checked rows.
  std::function<void(std::vector<ItemId>&)> checkedRows;
  // Appends the ids of the items directly in a folder.
  std::function<void(const std::wstring& folder, std::vector<ItemId>&)> folderItems;
  // The folder a tree node below the root stands for.
  std::function<std::wstring(CheckTree::Node)> folderOf;
};

// The root stands for partition + "\Deleted". Each checked node (the root
// first, then every node below it depth first) contributes its folder once:
// the list's checked rows when that folder is the selected node's (the
// list shows its files), else all the items of the folder. Mixed and
// unchecked nodes contribute nothing but their children are still visited.
// Nothing found in the tree falls back to the checked rows; no root gives
// nothing.
std::vector<ItemId> CollectRecoveryIds(CheckTree& tree, CheckTree::Node root, CheckTree::Node selected,
                                       const std::wstring& partitionName, const RecoverySources& sources);

// The folder of a tree node: the partition name, "\", then the texts from
// the node below the root down to `node`, joined by "\". The root itself
// stands for partition + "\Deleted".
std::wstring TreeFolderPath(CheckTree& tree, CheckTree::Node root, CheckTree::Node node,
                            const std::wstring& partitionName,
                            const std::function<std::wstring(CheckTree::Node)>& textOf);

}  // namespace restorix
