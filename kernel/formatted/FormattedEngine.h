// Format recovery: the file tree of the file system a quick format wrote
// over, rebuilt from the metadata it left behind (NTFS file records beyond
// the new $MFT, FAT folder clusters and exFAT entry sets in the data
// area). Items are listed under "Previous file system" and flagged
// KX_FLAG_PREVIOUS_FS.
#pragma once

#include <memory>

#include "kernel/engine/Engine.h"

namespace kestrel::formatted {

// The KX_MODE_FORMATTED engine over `source`. `current` is the volume's
// file system as it is now (null when none opened): it gives the cluster
// map the old files are judged against.
std::unique_ptr<VolumeEngine> Open(const VolumeSource& source, std::unique_ptr<VolumeEngine> current,
                                   Outcome& outcome);

}  // namespace kestrel::formatted
