// The exFAT engine: deleted files are entry sets whose in-use bits are
// clear, found by walking the folder tree from the root cluster (deleted
// folders included) and reading on into the free clusters a shrunken
// folder gave back. Recovery follows a file's FAT chain while it is
// intact and otherwise reads on from its first cluster.
#pragma once

#include <memory>

#include "kernel/engine/Engine.h"

namespace kestrel::exfat {

// Looks at a volume's first bytes (at least its first 512).
ProbeResult Probe(ByteView lead);
// Opens the volume: boot region checked against its checksum and backup,
// the root folder read. Null with the reason in `outcome` otherwise.
std::unique_ptr<VolumeEngine> Open(const VolumeSource& source, Outcome& outcome);

}  // namespace kestrel::exfat
