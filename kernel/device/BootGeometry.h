// Sizes read from a volume's boot sector or a disk's partition table, for
// when the system will not give a geometry (under Wine, for images, for some
// virtual disks).
#pragma once

#include <cstdint>

#include "kernel/Bytes.h"

namespace kestrel {

enum class BootKind { Unknown, Ntfs, Fat, ExFat };

struct BootGeometry {
  BootKind kind = BootKind::Unknown;
  uint32_t bytesPerSector = 0;
  uint64_t totalSectors = 0;
};

// Recognises an NTFS, FAT12/16/32 or exFAT boot sector.
BootGeometry ReadBootGeometry(ByteView sector);

// The disk size a partition table implies: the end of its furthest primary
// entry. Zero when no entry is plausible.
uint64_t SectorsCoveredByPartitionTable(ByteView sector);

}  // namespace kestrel
