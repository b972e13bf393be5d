// The content scanner: the deep scan's engine. It reads the volume in
// large sequential reads and looks at the start of every free cluster
// (every 512 bytes where no file system gives a map) for the formats in
// Formats.h, listing each find under "Carved files\<type>\".
#pragma once

#include <memory>

#include "kernel/engine/Engine.h"

namespace kestrel::carve {

// `fileSystem` (may be null) gives the allocation map and the facts.
std::unique_ptr<VolumeEngine> Open(const VolumeSource& source,
                                   std::unique_ptr<VolumeEngine> fileSystem, Outcome& outcome);

}  // namespace kestrel::carve
