// The FAT12/16/32 engine behind the engine interface.
#pragma once

#include <memory>

#include "kernel/engine/Engine.h"

namespace kestrel::fat {

// A FAT boot sector by the rules Open reads it with. exFAT is not ours;
// a sector size other than 512, 1024, 2048 or 4096 is an unsupported
// variant.
ProbeResult Probe(ByteView lead);

std::unique_ptr<VolumeEngine> Open(const VolumeSource& source, Outcome& outcome);

}  // namespace kestrel::fat
