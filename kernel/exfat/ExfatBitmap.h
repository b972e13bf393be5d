// The exFAT allocation bitmap: one bit per cluster of the heap, cluster 2
// in bit 0 of byte 0, set when the cluster is in use. It is a file of the
// root folder (entry type 0x81, see ExfatDirEntry.h); a TexFAT volume has
// two and its volume flags say which is active. It is read once per scan,
// in large reads, into the volume's AllocationMap.
#pragma once

#include <cstdint>

#include "kernel/device/SectorReader.h"
#include "kernel/engine/AllocationMap.h"
#include "kernel/exfat/ExfatBootSector.h"
#include "kernel/exfat/ExfatFat.h"

namespace kestrel::exfat {

struct BitmapLocation {
  uint32_t firstCluster = 0;  // 0: no bitmap entry was found
  uint64_t length = 0;
};

// Reads the bitmap at `where` into `out` (a map of every heap cluster).
// False, with `out` left unknown, when it is missing, too short or
// unreadable.
bool ReadAllocationBitmap(SectorReader& reader, ExfatFat& fat, const ExfatBoot& boot,
                          const BitmapLocation& where, AllocationMap& out);

}  // namespace kestrel::exfat
