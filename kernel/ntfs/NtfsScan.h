// The NTFS deleted-file pass behind the scan thread.
#pragma once

#include <string>

#include "kernel/DelItemRegistry.h"
#include "kernel/device/VolumeSource.h"
#include "kernel/engine/AllocationMap.h"
#include "kernel/engine/Engine.h"

namespace kestrel::ntfs {

struct ScanRequest {
  char16_t letter = 0;      // drive letter of the volume
  std::u16string prefix;    // every item path starts with it
  void* notifyWindow = nullptr;
};

class CNTFSVolume;

// The volume's cluster map from $Bitmap, read once in large pieces; an
// unknown map when it cannot be read.
AllocationMap ReadVolumeBitmap(CNTFSVolume& volume);

// Adds every deleted file record of the volume to `sink`, with its details
// and its state against `allocation`. Ok, or Stopped.
Outcome ScanDeletedRecords(CNTFSVolume& volume, const VolumeSource& source, ScanSink& sink,
                           const AllocationMap& allocation);

// Registers every deleted file of the volume, posting the running count and
// a final WM_CLOSE. 1 when the volume opened, 0 otherwise.
int RunDeletedFileScan(const ScanRequest& request, DelItemRegistry& registry);

}  // namespace kestrel::ntfs
