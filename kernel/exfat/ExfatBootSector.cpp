#include "kernel/exfat/ExfatBootSector.h"

#include <cstdio>

namespace kestrel::exfat {
namespace {

constexpr uint8_t kName[8] = {'E', 'X', 'F', 'A', 'T', ' ', ' ', ' '};

Outcome Unusual(const char* what, unsigned value) {
  char text[96];
  std::snprintf(text, sizeof text, "exFAT with %s %u", what, value);
  return Outcome::Unsupported(Ascii16(text));
}

}  // namespace

bool ExfatBoot::SameLayout(const ExfatBoot& o) const {
  return sectorShift == o.sectorShift && clusterShift == o.clusterShift &&
         volumeSectors == o.volumeSectors && fatOffset == o.fatOffset && fatLength == o.fatLength &&
         heapOffset == o.heapOffset && clusterCount == o.clusterCount &&
         rootCluster == o.rootCluster && serial == o.serial && fatCount == o.fatCount;
}

bool HasExfatName(ByteView sector) { return sector.Equals(3, kName, sizeof kName); }

Outcome ParseBootSector(ByteView sector, ExfatBoot& out) {
  if (!HasExfatName(sector) || !sector.Has(0, 512))
    return Outcome::NotSupported(u"not an exFAT boot sector");
  if (sector.u16(510) != 0xAA55) return Outcome::Damaged(u"the exFAT boot sector has no signature");
  out = {};
  out.volumeSectors = sector.u64(0x48);
  out.fatOffset = sector.u32(0x50);
  out.fatLength = sector.u32(0x54);
  out.heapOffset = sector.u32(0x58);
  out.clusterCount = sector.u32(0x5C);
  out.rootCluster = sector.u32(0x60);
  out.serial = sector.u32(0x64);
  out.flags = sector.u16(0x6A);
  out.sectorShift = sector.u8(0x6C);
  out.clusterShift = sector.u8(0x6D);
  out.fatCount = sector.u8(0x6E);

  if (out.sectorShift < 9 || out.sectorShift > 12)
    return Unusual("a sector-size shift of", out.sectorShift);
  if (out.clusterShift > 25 - out.sectorShift)
    return Unusual("a cluster-size shift of", out.clusterShift);
  if (out.fatCount != 1 && out.fatCount != 2) return Unusual("a FAT count of", out.fatCount);

  // The areas follow one another inside the volume, and the FAT has an
  // entry for every cluster. Sums are in 64 bits: no field can overflow them.
  const uint64_t fatEnd = uint64_t{out.fatOffset} + uint64_t{out.fatLength} * out.fatCount;
  const uint64_t heapEnd = uint64_t{out.heapOffset} + (uint64_t{out.clusterCount} << out.clusterShift);
  if (out.volumeSectors > (UINT64_MAX >> out.sectorShift) || out.fatOffset < 24 ||
      out.heapOffset < fatEnd || heapEnd > out.volumeSectors || out.clusterCount == 0 ||
      out.clusterCount > 0xFFFFFFF5u ||
      (uint64_t{out.fatLength} << out.sectorShift) < (uint64_t{out.clusterCount} + 2) * 4)
    return Outcome::Damaged(u"the exFAT boot sector's layout does not fit the volume");
  if (!out.IsCluster(out.rootCluster))
    return Outcome::Damaged(u"the exFAT root folder lies outside the volume");
  return Outcome::Success();
}

uint32_t BootChecksum(ByteView region, uint32_t sectorBytes) {
  const size_t bytes = size_t{sectorBytes} * 11;
  if (!region.Has(0, bytes)) return 0;
  const uint8_t* p = region.data();
  uint32_t sum = 0;
  for (size_t i = 0; i < bytes; ++i) {
    if (i == 106 || i == 107 || i == 112) continue;  // volume flags, percent in use
    sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + p[i];
  }
  return sum;
}

bool BootChecksumMatches(ByteView region, uint32_t sectorBytes) {
  if (!region.Has(0, size_t{sectorBytes} * kBootRegionSectors)) return false;
  const uint32_t sum = BootChecksum(region, sectorBytes);
  const size_t at = size_t{sectorBytes} * 11;
  for (size_t i = 0; i < sectorBytes; i += 4)
    if (region.u32(at + i) != sum) return false;
  return true;
}

}  // namespace kestrel::exfat
