// The exFAT boot region: the main boot sector, its checksum sector, and the
// backup region that follows it.
//
// Main boot sector, offsets in the volume's first sector, little-endian:
//   0x00 3    jump instruction
//   0x03 8    "EXFAT   "
//   0x0B 53   must be zero (a FAT boot sector's parameter block lies here)
//   0x40 u64  partition offset (sectors; informational)
//   0x48 u64  volume length (sectors)
//   0x50 u32  FAT offset (sectors)
//   0x54 u32  FAT length (sectors, per FAT)
//   0x58 u32  cluster heap offset (sectors)
//   0x5C u32  cluster count
//   0x60 u32  first cluster of the root directory
//   0x64 u32  volume serial number
//   0x68 u16  file system revision
//   0x6A u16  volume flags (bit 0: the second FAT and bitmap are active)
//   0x6C u8   bytes-per-sector shift (9..12)
//   0x6D u8   sectors-per-cluster shift (at most 25 - the sector shift)
//   0x6E u8   number of FATs (1, or 2 for TexFAT)
//   0x70 u8   percent in use
//   0x1FE u16 0xAA55
// Sectors 0-10 are the boot region and sector 11 repeats their 32-bit
// checksum (volume flags and percent in use left out, so that they can
// change); sectors 12-23 are the backup of all twelve.
#pragma once

#include <cstdint>
#include <string>

#include "kernel/Bytes.h"
#include "kernel/engine/Outcome.h"

namespace kestrel::exfat {

constexpr uint32_t kBootRegionSectors = 12;
constexpr uint32_t kFirstCluster = 2;

struct ExfatBoot {
  uint32_t sectorShift = 0;
  uint32_t clusterShift = 0;  // sectors per cluster, as a shift
  uint64_t volumeSectors = 0;
  uint32_t fatOffset = 0;
  uint32_t fatLength = 0;
  uint32_t heapOffset = 0;
  uint32_t clusterCount = 0;
  uint32_t rootCluster = 0;
  uint32_t serial = 0;
  uint16_t flags = 0;
  uint8_t fatCount = 0;

  uint32_t SectorBytes() const { return uint32_t{1} << sectorShift; }
  uint64_t ClusterBytes() const { return uint64_t{1} << (sectorShift + clusterShift); }
  uint64_t VolumeBytes() const { return volumeSectors << sectorShift; }
  // The FAT in use: the second one only on a TexFAT volume that says so.
  uint64_t ActiveFatByte() const {
    const uint64_t which = (fatCount == 2 && (flags & 1)) ? 1 : 0;
    return (uint64_t{fatOffset} + which * fatLength) << sectorShift;
  }
  uint32_t ActiveBitmap() const { return (fatCount == 2 && (flags & 1)) ? 1 : 0; }
  bool IsCluster(uint64_t cluster) const {
    return cluster >= kFirstCluster && cluster - kFirstCluster < clusterCount;
  }
  uint64_t ClusterByte(uint64_t cluster) const {
    return (uint64_t{heapOffset} << sectorShift) + ((cluster - kFirstCluster) << (sectorShift + clusterShift));
  }
  // Where the fields that describe the layout agree (flags and use may differ).
  bool SameLayout(const ExfatBoot& o) const;
};

// True when the sector names itself exFAT; nothing else is checked.
bool HasExfatName(ByteView sector);

// Reads and checks the main boot sector (at least 512 bytes): NotSupported
// for another file system, UnsupportedVariant for shifts the format does
// not allow, Damaged when the layout does not fit together.
Outcome ParseBootSector(ByteView sector, ExfatBoot& out);

// The checksum of the eleven sectors that open `region`.
uint32_t BootChecksum(ByteView region, uint32_t sectorBytes);
// True when sector 11 of `region` (twelve sectors) repeats the checksum.
bool BootChecksumMatches(ByteView region, uint32_t sectorBytes);

}  // namespace kestrel::exfat
