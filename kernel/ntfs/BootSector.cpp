#include "kernel/ntfs/BootSector.h"

namespace kestrel::ntfs {
namespace {
constexpr bool PowerOfTwo(uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }
}  // namespace

uint64_t SizeFromClustersByte(int8_t value, uint32_t clusterBytes) {
  if (value > 0) return uint64_t{clusterBytes} * static_cast<uint64_t>(value);
  int shift = -static_cast<int>(value);
  if (shift > 31) return 0;
  return uint64_t{1} << shift;
}

BootSectorResult ParseNtfsBootSector(ByteView sector, NtfsGeometry& out) {
  if (sector.size() < 512 || !sector.Equals(0x03, "NTFS    ", 8)) return BootSectorResult::NotNtfs;
  NtfsGeometry g;
  g.sectorBytes = sector.u16(0x0B);
  uint64_t cluster = uint64_t{g.sectorBytes} * sector.u8(0x0D);
  // Geometry a device could not have would divide by zero or overflow later.
  if (!PowerOfTwo(g.sectorBytes) || g.sectorBytes < 256 || cluster == 0 || cluster > (1u << 24))
    return BootSectorResult::Corrupt;
  g.clusterBytes = static_cast<uint32_t>(cluster);
  uint64_t record = SizeFromClustersByte(sector.s8(0x40), g.clusterBytes);
  // A record must hold at least a header, and its fix-up blocks are 512 bytes.
  if (record < 512 || record > (1u << 20) || record % 512 != 0) return BootSectorResult::Corrupt;
  g.recordBytes = static_cast<uint32_t>(record);
  uint64_t index = SizeFromClustersByte(sector.s8(0x44), g.clusterBytes);
  g.indexBlockBytes = index <= (1u << 24) ? static_cast<uint32_t>(index) : 0;
  uint64_t mftLcn = sector.u64(0x30);
  if (mftLcn > UINT64_MAX / g.clusterBytes) return BootSectorResult::Corrupt;
  g.mftByteOffset = mftLcn * g.clusterBytes;
  g.volumeSectors = sector.u64(0x28);
  out = g;
  return BootSectorResult::Ok;
}

}  // namespace kestrel::ntfs
