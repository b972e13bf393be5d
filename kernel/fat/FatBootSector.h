// The FAT boot sector (BIOS parameter block) and the volume layout derived
// from it.
//
// Fields read, offsets in the volume's first sector, little-endian:
//   0x0B u16  bytes per sector
//   0x0D u8   sectors per cluster
//   0x0E u16  reserved sectors (start of the first FAT)
//   0x10 u8   number of FATs
//   0x11 u16  root directory entries (fixed root of FAT12/16)
//   0x13 u16  total sectors, used when not 0
//   0x16 u16  sectors per FAT, used when not 0
//   0x20 u32  total sectors when the 16-bit field is 0
//   0x24 u32  sectors per FAT when the 16-bit field is 0
//   0x2C u32  first cluster of the root directory (FAT32)
// No signature or type string is examined: the cluster count decides.
#pragma once

#include <cstdint>

#include "kernel/Bytes.h"

namespace kestrel::fat {

// The engine works in 512-byte sectors; other sector sizes are refused.
constexpr uint32_t kSectorBytes = 512;
constexpr uint32_t kBootCopyBytes = 90;

enum FatType : uint8_t { kFatUnknown = 0, kFat12 = 1, kFat16 = 2, kFat32 = 3 };

struct FatLayout {
  uint8_t fatType = kFatUnknown;
  uint32_t bytesPerSector = 0;
  uint32_t sectorsPerCluster = 0;
  uint32_t reservedSectors = 0;
  uint32_t numberOfFats = 0;
  uint32_t totalSectors = 0;
  uint32_t bytesPerCluster = 0;   // up to 64 KiB: wider than 16 bits
  uint32_t rootCluster = 0;       // 0 for FAT12/16
  uint32_t rootDirSectors = 0;
  uint32_t rootDirFirstSector = 0;
  uint32_t sectorsPerFat = 0;
  uint32_t fatAreaSectors = 0;
  uint32_t firstDataSector = 0;
  uint32_t dataSectors = 0;
  uint32_t clusterCount = 0;
};

enum class LayoutResult {
  Ok,
  Unsupported,  // sector size not 512, or BPS/SPC 0 (exFAT): not read
  Corrupt,      // the areas do not fit inside the volume
};

// Derives the layout from a boot sector of at least 512 bytes.
LayoutResult ReadFatLayout(ByteView boot, FatLayout& out);

// FAT type from the number of data clusters.
uint8_t FatTypeFromClusterCount(uint32_t clusterCount);

}  // namespace kestrel::fat
