// The FAT boot sector (BIOS parameter block) and the volume layout derived
// from it.
//
// Fields read, offsets in the volume's first sector, little-endian:
//   0x03 8 bytes  OEM name ("EXFAT   " marks exFAT, which is not ours)
//   0x0B u16  bytes per sector (512, 1024, 2048 or 4096 are read)
//   0x0D u8   sectors per cluster (a power of two)
//   0x0E u16  reserved sectors (start of the first FAT)
//   0x10 u8   number of FATs
//   0x11 u16  root directory entries (fixed root of FAT12/16)
//   0x13 u16  total sectors, used when not 0
//   0x15 u8   media descriptor (0xF0-0xFF)
//   0x16 u16  sectors per FAT, used when not 0
//   0x20 u32  total sectors when the 16-bit field is 0
//   0x24 u32  sectors per FAT when the 16-bit field is 0
//   0x2C u32  first cluster of the root directory (FAT32)
//   0x32 u16  sector of the backup boot sector (FAT32)
//   0x26/0x42 u8 extended boot signature 0x29 (FAT12/16 / FAT32), then the
//             serial number (u32) and the volume label (11 bytes)
// The cluster count decides the FAT type, not the type string.
#pragma once

#include <cstdint>
#include <string>

#include "kernel/Bytes.h"

namespace kestrel::fat {

// Every boot sector holds at least this much, whatever its sector size.
constexpr uint32_t kBootBytes = 512;

enum FatType : uint8_t { kFatUnknown = 0, kFat12 = 1, kFat16 = 2, kFat32 = 3 };

struct FatLayout {
  uint8_t fatType = kFatUnknown;
  uint32_t bytesPerSector = 0;
  uint32_t sectorsPerCluster = 0;
  uint32_t reservedSectors = 0;
  uint32_t numberOfFats = 0;
  uint32_t totalSectors = 0;
  uint32_t bytesPerCluster = 0;   // up to 256 KiB with 4096-byte sectors
  uint32_t rootCluster = 0;       // 0 for FAT12/16
  uint32_t rootDirSectors = 0;
  uint32_t rootDirFirstSector = 0;
  uint32_t sectorsPerFat = 0;
  uint32_t fatAreaSectors = 0;
  uint32_t firstDataSector = 0;
  uint32_t dataSectors = 0;
  uint32_t clusterCount = 0;

  // Byte offsets inside the volume.
  uint64_t SectorOffset(uint64_t sector) const { return sector * bytesPerSector; }
  uint64_t VolumeBytes() const { return SectorOffset(totalSectors); }
  uint64_t FatOffset(uint32_t copy) const {
    return SectorOffset(reservedSectors + uint64_t{copy} * sectorsPerFat);
  }
  uint64_t FatBytes() const { return SectorOffset(sectorsPerFat); }
  uint64_t RootDirOffset() const { return SectorOffset(rootDirFirstSector); }
  uint64_t RootDirBytes() const { return SectorOffset(rootDirSectors); }
  uint64_t DataOffset() const { return SectorOffset(firstDataSector); }
  // Offset of a data cluster (2 .. clusterCount + 1).
  uint64_t ClusterOffset(uint32_t cluster) const {
    return DataOffset() + uint64_t{cluster - 2} * bytesPerCluster;
  }
  uint64_t DataEnd() const { return DataOffset() + uint64_t{clusterCount} * bytesPerCluster; }
};

enum class LayoutResult {
  Ok,
  NotFat,       // no plausible BIOS parameter block, or exFAT
  Unsupported,  // a FAT volume with a sector size this engine does not read
  Corrupt,      // the areas do not fit inside the volume
};

// Derives the layout from a boot sector of at least 512 bytes.
LayoutResult ReadFatLayout(ByteView boot, FatLayout& out);

// FAT type from the number of data clusters.
uint8_t FatTypeFromClusterCount(uint32_t clusterCount);

// "FAT12", "FAT16", "FAT32".
const char16_t* FatTypeName(uint8_t fatType);

// Serial number and label from the extended boot record (0 and empty when
// the boot sector has none).
void ReadVolumeId(ByteView boot, uint8_t fatType, uint64_t& serial, std::u16string& label);

}  // namespace kestrel::fat
