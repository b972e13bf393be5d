#include "kernel/fat/FatBootSector.h"

namespace kestrel::fat {

uint8_t FatTypeFromClusterCount(uint32_t clusterCount) {
  if (clusterCount < 4085) return kFat12;
  if (clusterCount < 65525) return kFat16;
  return kFat32;
}

LayoutResult ReadFatLayout(ByteView boot, FatLayout& out) {
  out = FatLayout{};
  if (boot.size() < kSectorBytes) return LayoutResult::Unsupported;
  uint32_t bps = boot.u16(0x0B);
  uint32_t spc = boot.u8(0x0D);
  if (bps != kSectorBytes || spc == 0) return LayoutResult::Unsupported;
  uint32_t reserved = boot.u16(0x0E);
  uint32_t fats = boot.u8(0x10);
  uint32_t rootEntries = boot.u16(0x11);
  uint32_t total16 = boot.u16(0x13);
  uint32_t fat16 = boot.u16(0x16);
  uint32_t total32 = boot.u32(0x20);
  uint32_t fat32 = boot.u32(0x24);

  FatLayout l;
  l.bytesPerSector = bps;
  l.sectorsPerCluster = spc;
  l.reservedSectors = reserved;
  l.numberOfFats = fats;
  l.rootDirSectors = (rootEntries * 32 + bps - 1) / bps;
  l.sectorsPerFat = fat16 != 0 ? fat16 : fat32;
  uint64_t fatArea = uint64_t{fats} * l.sectorsPerFat;
  uint64_t firstData = reserved + fatArea + l.rootDirSectors;
  l.totalSectors = total16 != 0 ? total16 : total32;
  // Every area must lie inside the volume; otherwise the subtraction below
  // would wrap and every later sector number would be nonsense.
  if (firstData >= l.totalSectors) return LayoutResult::Corrupt;
  l.fatAreaSectors = static_cast<uint32_t>(fatArea);
  l.firstDataSector = static_cast<uint32_t>(firstData);
  l.dataSectors = l.totalSectors - l.firstDataSector;
  l.clusterCount = l.dataSectors / spc;
  if (l.clusterCount == 0) return LayoutResult::Corrupt;
  l.fatType = FatTypeFromClusterCount(l.clusterCount);
  l.bytesPerCluster = spc * bps;
  if (l.fatType == kFat32) {
    l.rootCluster = boot.u32(0x2C);
    uint64_t rootSector = l.rootCluster >= 2
                              ? l.firstDataSector + uint64_t{l.rootCluster - 2} * spc
                              : 0;
    l.rootDirFirstSector = rootSector <= UINT32_MAX ? static_cast<uint32_t>(rootSector) : 0;
  } else {
    l.rootCluster = 0;
    l.rootDirFirstSector = reserved + l.fatAreaSectors;
  }
  out = l;
  return LayoutResult::Ok;
}

}  // namespace kestrel::fat
