// What the recovery and search sessions need from the kernel, without a
// window or the library behind it: the found items and the recovery of
// one. The program's loader answers it from Kestrel.dll, tests from a fake.
#pragma once

#include <cstdint>
#include <string>

#include "app/core/FolderIndex.h"

namespace restorix {

// A found item as the pages show it.
struct FoundItem {
  std::wstring path;
  ItemId id;
  uint64_t size = 0;
  uint64_t modified = 0;  // FILETIME, local time
};

class SessionKernel {
 public:
  virtual ~SessionKernel() = default;
  virtual int ItemCount() = 0;
  // Item `index` in the kernel's order; false when it cannot be read.
  virtual bool ItemAt(int index, FoundItem& out) = 0;
  // Writes the item below `folder` (which ends in a backslash); false when
  // it could not be written.
  virtual bool RecoverItem(const std::wstring& folder, ItemId id) = 0;
};

// Refills `index` from every item the kernel holds.
void RebuildFolderIndex(SessionKernel& kernel, FolderIndex& index);

}  // namespace restorix
