// The NTFS deleted-file pass behind the scan thread.
#pragma once

#include <string>

#include "kernel/DelItemRegistry.h"

namespace kestrel::ntfs {

struct ScanRequest {
  char16_t letter = 0;      // drive letter of the volume
  std::u16string prefix;    // every item path starts with it
  void* notifyWindow = nullptr;
};

// Registers every deleted file of the volume, posting the running count and
// a final WM_CLOSE. 1 when the volume opened, 0 otherwise.
int RunDeletedFileScan(const ScanRequest& request, DelItemRegistry& registry);

}  // namespace kestrel::ntfs
