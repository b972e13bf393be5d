#include "app/core/SessionKernel.h"

namespace restorix {

void RebuildFolderIndex(SessionKernel& kernel, FolderIndex& index) {
  index.Clear();
  FoundItem item;
  for (int i = 0, n = kernel.ItemCount(); i < n; ++i)
    if (kernel.ItemAt(i, item)) index.Add(item.path, item.id);
}

}  // namespace restorix
