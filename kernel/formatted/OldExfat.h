// The previous exFAT of a quick-formatted volume. exFAT folders have no
// "." and ".." entries, but every file's entry set (file, stream
// extension, names) carries a checksum over its entries, so one pass over
// the volume finds the old sets wherever they lie. A folder's set gives
// its first cluster and length, so the sets lying inside it are its
// children; the cluster size and heap start are those that put the most
// found folders where a set starts. Files are read from their first
// cluster on: "no FAT chain" files are contiguous by definition, the
// others are taken to be (the old FAT is gone).
#pragma once

#include <cstdint>

#include "kernel/device/SectorReader.h"
#include "kernel/engine/Engine.h"
#include "kernel/formatted/OldTree.h"

namespace kestrel::formatted {

// True when `boot` is an exFAT boot sector.
bool IsExfatBoot(ByteView boot);

Outcome FindOldExfat(SectorReader& reader, uint64_t volumeBytes, ScanSink& sink, OldTree& tree);

}  // namespace kestrel::formatted
