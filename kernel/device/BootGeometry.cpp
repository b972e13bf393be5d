#include "kernel/device/BootGeometry.h"

namespace kestrel {
namespace {

bool PowerOfTwoIn(uint32_t v, uint32_t lo, uint32_t hi) {
  return v >= lo && v <= hi && (v & (v - 1)) == 0;
}

}  // namespace

BootGeometry ReadBootGeometry(ByteView s) {
  BootGeometry g;
  if (s.size() < 512) return g;
  if (s.Equals(3, "NTFS    ", 8)) {
    uint32_t bps = s.u16(0x0B);
    if (!PowerOfTwoIn(bps, 256, 4096)) return g;
    g.kind = BootKind::Ntfs;
    g.bytesPerSector = bps;
    // The count excludes the backup boot sector at the end of the volume.
    uint64_t sectors = s.u64(0x28);
    g.totalSectors = sectors < UINT64_MAX ? sectors + 1 : sectors;
    return g;
  }
  if (s.Equals(3, "EXFAT   ", 8)) {
    uint8_t shift = s.u8(0x6C);
    if (shift < 9 || shift > 12) return g;
    g.kind = BootKind::ExFat;
    g.bytesPerSector = 1u << shift;
    g.totalSectors = s.u64(0x48);
    return g;
  }
  // FAT: a plausible BIOS parameter block.
  uint32_t bps = s.u16(0x0B);
  uint32_t spc = s.u8(0x0D);
  uint32_t reserved = s.u16(0x0E);
  uint32_t fats = s.u8(0x10);
  uint32_t total16 = s.u16(0x13);
  uint32_t media = s.u8(0x15);
  uint32_t fat16 = s.u16(0x16);
  uint32_t total32 = s.u32(0x20);
  uint32_t fat32 = s.u32(0x24);
  if (!PowerOfTwoIn(bps, 512, 4096) || !PowerOfTwoIn(spc, 1, 128) || reserved == 0 ||
      fats == 0 || fats > 4 || (media < 0xF0 && media != 0))
    return g;
  if (fat16 == 0 && fat32 == 0) return g;
  uint64_t total = total16 ? total16 : total32;
  if (total == 0) return g;
  g.kind = BootKind::Fat;
  g.bytesPerSector = bps;
  g.totalSectors = total;
  return g;
}

uint64_t SectorsCoveredByPartitionTable(ByteView s) {
  if (s.size() < 512 || s.u8(0x1FE) != 0x55 || s.u8(0x1FF) != 0xAA) return 0;
  uint64_t end = 0;
  for (int i = 0; i < 4; ++i) {
    size_t e = 0x1BE + 16 * i;
    if (s.u8(e + 4) == 0) continue;
    uint64_t last = uint64_t{s.u32(e + 8)} + s.u32(e + 12);
    if (last > end) end = last;
  }
  return end;
}

}  // namespace kestrel
