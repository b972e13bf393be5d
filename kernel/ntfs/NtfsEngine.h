// The NTFS engine behind the engine interface.
#pragma once

#include <memory>

#include "kernel/engine/Engine.h"

namespace kestrel::ntfs {

ProbeResult Probe(ByteView lead);
std::unique_ptr<VolumeEngine> Open(const VolumeSource& source, Outcome& outcome);

}  // namespace kestrel::ntfs
