// NTFS boot sector (first sector of the volume). Fields used, little-endian:
//   0x03  8 bytes  OEM identifier, "NTFS    "
//   0x0B  u16      bytes per sector
//   0x0D  u8       sectors per cluster (a plain count)
//   0x28  u64      sectors in the volume (the backup boot sector follows)
//   0x30  u64      logical cluster number of the $MFT
//   0x40  s8       clusters per file record (<= 0: 2^-v bytes)
//   0x44  s8       clusters per index block (same rule)
#pragma once

#include <cstdint>

#include "kernel/Bytes.h"

namespace kestrel::ntfs {

struct NtfsGeometry {
  uint16_t sectorBytes = 0;
  uint32_t clusterBytes = 0;
  uint32_t recordBytes = 0;
  uint32_t indexBlockBytes = 0;  // 0 when the byte gives no usable size
  uint64_t mftByteOffset = 0;
  uint64_t volumeSectors = 0;
};

enum class BootSectorResult {
  Ok,
  NotNtfs,  // wrong identifier or too short
  Corrupt,  // says NTFS, but its geometry cannot be used
};

// Size from a clusters-per-record / per-index-block byte; 0 when it cannot
// be represented.
uint64_t SizeFromClustersByte(int8_t value, uint32_t clusterBytes);

BootSectorResult ParseNtfsBootSector(ByteView sector, NtfsGeometry& out);

}  // namespace kestrel::ntfs
