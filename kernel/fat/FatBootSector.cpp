#include "kernel/fat/FatBootSector.h"

namespace kestrel::fat {
namespace {

bool PowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

}  // namespace

uint8_t FatTypeFromClusterCount(uint32_t clusterCount) {
  if (clusterCount < 4085) return kFat12;
  if (clusterCount < 65525) return kFat16;
  return kFat32;
}

const char16_t* FatTypeName(uint8_t fatType) {
  switch (fatType) {
    case kFat12: return u"FAT12";
    case kFat16: return u"FAT16";
    case kFat32: return u"FAT32";
    default: return u"FAT";
  }
}

LayoutResult ReadFatLayout(ByteView boot, FatLayout& out) {
  out = FatLayout{};
  if (boot.size() < kBootBytes) return LayoutResult::NotFat;
  if (boot.Equals(3, "EXFAT   ", 8)) return LayoutResult::NotFat;
  uint32_t bps = boot.u16(0x0B);
  uint32_t spc = boot.u8(0x0D);
  uint32_t reserved = boot.u16(0x0E);
  uint32_t fats = boot.u8(0x10);
  uint32_t rootEntries = boot.u16(0x11);
  uint32_t total16 = boot.u16(0x13);
  uint32_t media = boot.u8(0x15);
  uint32_t fat16 = boot.u16(0x16);
  uint32_t total32 = boot.u32(0x20);
  uint32_t fat32 = boot.u32(0x24);
  // A BIOS parameter block at all: everything but the sector size must look
  // like one, so that other file systems and empty sectors are not ours.
  if (bps == 0 || !PowerOfTwo(spc) || spc > 128 || reserved == 0 || fats == 0 || fats > 4 ||
      (media < 0xF0 && media != 0) || (fat16 == 0 && fat32 == 0) ||
      (total16 == 0 && total32 == 0))
    return LayoutResult::NotFat;
  if (bps != 512 && bps != 1024 && bps != 2048 && bps != 4096) return LayoutResult::Unsupported;

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

void ReadVolumeId(ByteView boot, uint8_t fatType, uint64_t& serial, std::u16string& label) {
  serial = 0;
  label.clear();
  const size_t at = fatType == kFat32 ? 0x42 : 0x26;
  if (boot.u8(at) != 0x29 || !boot.Has(at + 5, 11)) return;
  serial = boot.u32(at + 1);
  for (size_t i = 0; i < 11; ++i) label += static_cast<char16_t>(boot.u8(at + 5 + i));
  while (!label.empty() && label.back() == u' ') label.pop_back();
  if (label == u"NO NAME") label.clear();
}

}  // namespace kestrel::fat
