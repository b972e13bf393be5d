#include "kernel/fat/FatDrive.h"

#include <algorithm>
#include <cstring>

#include "kernel/StopFlag.h"
#include "kernel/device/DeviceEntry.h"
#include "kernel/fat/FatTree.h"

namespace kestrel {

using namespace fat;

namespace {
constexpr size_t kLargestDeviceSector = 65536;
}  // namespace

CFATdrive::CFATdrive(const DeviceEntry& dev, uint32_t first, uint32_t count)
    : firstSector(first), sectorCount(count), device(&dev) {}

CFATdrive::~CFATdrive() = default;

CCustomDirectory* CFATdrive::RootFolder() { return rootFolder.get(); }

bool CFATdrive::ReadSectors(uint64_t relative, uint32_t count, uint8_t* buffer) {
  if (!device || count == 0 || count > UINT16_MAX) return false;
  // Never read past the volume the boot sector describes.
  if (HasLayout() && !InBounds(relative, count, layout.totalSectors)) return false;
  uint64_t absolute = uint64_t{firstSector} + relative;
  if (absolute > UINT32_MAX || count - 1 > UINT32_MAX - absolute) return false;
  return ReadDeviceSectors(*device, static_cast<uint32_t>(absolute),
                           static_cast<uint16_t>(count), buffer);
}

bool CFATdrive::Fill(SectorWindow& window, uint64_t sector, uint32_t need, uint32_t want) {
  if (window.Holds(sector, need)) return true;
  want = std::clamp(want, need, std::max(need, window.MaxSectors()));
  if (HasLayout() && sector < layout.totalSectors)
    want = static_cast<uint32_t>(std::min<uint64_t>(want, std::max<uint64_t>(
                                                             need, layout.totalSectors - sector)));
  uint8_t* buffer = window.Prepare(want);
  if (ReadSectors(sector, want, buffer)) {
    window.Commit(sector, want);
    return true;
  }
  if (want > need && ReadSectors(sector, need, window.Prepare(need))) {
    window.Commit(sector, need);
    return true;
  }
  window.Invalidate();
  return false;
}

bool CFATdrive::InitVolume() {
  // The device layer reads whole device sectors: a volume on a device whose
  // sectors are not 512 bytes would overrun every buffer sized for them.
  if (!device || (device->bytesPerSector != 0 && device->bytesPerSector != kSectorBytes))
    return false;
  // Until the boot sector has been checked the device's sector may still be
  // larger than 512 bytes (an image whose boot sector says so).
  std::vector<uint8_t> boot(kLargestDeviceSector);
  if (!ReadSectors(0, 1, boot.data())) return false;
  std::memcpy(bootCopy.data(), boot.data(), bootCopy.size());
  FatLayout l;
  if (ReadFatLayout(ByteView(boot.data(), kSectorBytes), l) != LayoutResult::Ok) return false;
  layout = l;
  fatCache.Invalidate();
  dirCache.Invalidate();
  dataCache.Invalidate();
  chainFat = 1;
  // A FAT with no chain in its first entries (apart from the root's) is
  // taken to have been cleared, as a quick format leaves it: directories are
  // then read as consecutive clusters.
  bool trusted = false;
  uint32_t last = std::min<uint32_t>(layout.clusterCount + 1, 16);
  for (uint32_t c = 2; c <= last && !trusted; ++c) {
    uint32_t v = GetFatEntry(c, 0);
    trusted = ClassifyFatValue(layout.fatType, v) == kFatInUse && v != layout.rootCluster;
  }
  if (!trusted) chainFat = 0;
  rootFolder = std::make_unique<CFATDirectory>();
  rootFolder->name = u"Deleted";
  rootFolder->startCluster = layout.rootCluster;
  rootFolder->rootSector = layout.rootDirFirstSector;
  rootFolder->volume = this;
  return true;
}

uint8_t CFATdrive::ClassifyFatValue(uint8_t fatType, uint32_t value) {
  return fat::ClassifyFatValue(fatType, value);
}

bool CFATdrive::IsEndOfChain(uint32_t value) const {
  return IsEndOfChainValue(layout.fatType, value);
}

bool CFATdrive::TryGetFatEntry(uint32_t cluster, uint32_t fatIndex, uint32_t& value) {
  value = 0;
  if (!HasLayout() || !IsDataCluster(cluster)) return true;
  uint64_t offset = FatEntryOffset(layout.fatType, cluster);
  uint64_t sector = uint64_t{fatIndex} * layout.sectorsPerFat + offset / kSectorBytes +
                    layout.reservedSectors;
  uint32_t inSector = static_cast<uint32_t>(offset % kSectorBytes);
  // A FAT12 entry at the last byte of a sector continues in the next one.
  uint32_t need = inSector + FatEntryWidth(layout.fatType) > kSectorBytes ? 2 : 1;
  uint64_t copyEnd = uint64_t{fatIndex + 1} * layout.sectorsPerFat + layout.reservedSectors;
  uint32_t want = copyEnd > sector ? static_cast<uint32_t>(std::min<uint64_t>(copyEnd - sector, 64))
                                   : need;
  if (!Fill(fatCache, sector, need, want)) return false;
  value = DecodeFatEntry(layout.fatType, cluster, fatCache.At(sector) + inSector);
  return true;
}

uint32_t CFATdrive::GetFatEntry(uint32_t cluster, uint32_t fatIndex) {
  uint32_t value = 0;
  return TryGetFatEntry(cluster, fatIndex, value) ? value : 0;
}

bool CFATdrive::EnterCluster(DirCursor& cursor, uint32_t cluster) {
  if (!IsDataCluster(cluster)) return false;
  if (!cursor.entered.insert(cluster).second) return false;  // the chain loops
  if (cursor.budget && !cursor.budget->Take(cluster)) return false;
  return true;
}

bool CFATdrive::LooksLikeDirectoryContinuation(uint32_t cluster) {
  // A following cluster found without a FAT link belongs to this directory
  // only if it reads like entries and is not the start of another folder.
  uint64_t sector = ClusterFirstSector(cluster);
  if (!Fill(dirCache, sector, 1, layout.sectorsPerCluster)) return false;
  ByteView first(dirCache.At(sector), kSectorBytes);
  if (!LooksLikeDirectorySector(first)) return false;
  FatDirEntry dot;
  std::memcpy(dot.bytes.data(), first.data(), kDirEntryBytes);
  return !(dot.IsFolder() && dot.ShortNameIs(".          "));
}

bool CFATdrive::NextDirectoryCluster(DirCursor& cursor, uint32_t& next) {
  bool guessed = true;
  next = cursor.cluster + 1;
  if (chainFat == 1) {
    uint32_t value = 0;
    if (!TryGetFatEntry(cursor.cluster, 0, value)) return false;
    switch (ClassifyFatValue(layout.fatType, value)) {
      case kFatEndOfChain:
      case kFatReserved:
        return false;
      case kFatInUse:
        next = value;
        guessed = false;
        break;
      default:  // free: a deleted directory's chain was cleared
        break;
    }
  }
  if (!IsDataCluster(next)) return false;
  if (guessed && !LooksLikeDirectoryContinuation(next)) return false;
  return EnterCluster(cursor, next);
}

bool CFATdrive::NextDirEntry(DirCursor& cursor, FatDirEntry* out) {
  if (!HasLayout()) return false;
  const uint32_t perSector = kSectorBytes / kDirEntryBytes;
  uint64_t sector = 0;
  uint32_t run = 1;  // sectors worth reading at once from here
  if (cursor.cluster == 0) {
    if (cursor.entryIndex >= perSector) {
      cursor.entryIndex = 0;
      ++cursor.rootSector;
    }
    // The fixed root directory ends where the boot sector says it does.
    uint64_t rootEnd = uint64_t{layout.rootDirFirstSector} + layout.rootDirSectors;
    if (cursor.rootSector < layout.rootDirFirstSector || cursor.rootSector >= rootEnd)
      return false;
    sector = cursor.rootSector;
    run = static_cast<uint32_t>(rootEnd - sector);
  } else {
    if (!IsDataCluster(cursor.cluster)) return false;
    if (cursor.entered.empty() && !EnterCluster(cursor, cursor.cluster)) return false;
    const uint32_t perCluster = layout.bytesPerCluster / kDirEntryBytes;
    if (cursor.entryIndex >= perCluster) {
      uint32_t next = 0;
      if (!NextDirectoryCluster(cursor, next)) return false;
      cursor.cluster = next;
      cursor.entryIndex = 0;
    }
    uint32_t sectorInCluster = cursor.entryIndex / perSector;
    sector = ClusterFirstSector(cursor.cluster) + sectorInCluster;
    run = layout.sectorsPerCluster - sectorInCluster;
  }
  if (!out) return true;
  if (!Fill(dirCache, sector, 1, run)) return false;
  std::memcpy(out->bytes.data(),
              dirCache.At(sector) + (cursor.entryIndex % perSector) * kDirEntryBytes,
              kDirEntryBytes);
  ++cursor.entryIndex;
  return true;
}

bool CFATdrive::ReadFileChunk(FileCursor& cursor, uint32_t maxBytes, uint8_t* buffer,
                              uint32_t& bytesRead) {
  bytesRead = 0;
  if (!buffer) return false;
  if (cursor.position >= cursor.size) return cursor.position == cursor.size;
  // Nothing of a file whose first cluster is not a data cluster can be read.
  if (!HasLayout() || !IsDataCluster(cursor.startCluster)) return true;
  uint32_t remaining = std::min(maxBytes, cursor.size - cursor.position);
  // The clusters follow one another, so the file is one run of sectors; it
  // ends at the last whole cluster of the volume.
  const uint64_t fileStart = ClusterFirstSector(cursor.startCluster);
  const uint64_t dataEnd =
      layout.firstDataSector + uint64_t{layout.clusterCount} * layout.sectorsPerCluster;
  while (remaining > 0 && !StopRequested()) {
    uint64_t sector = fileStart + cursor.position / kSectorBytes;
    uint32_t inSector = cursor.position % kSectorBytes;
    if (sector >= dataEnd) break;
    if (!dataCache.Holds(sector)) {
      uint64_t span = (uint64_t{inSector} + remaining + kSectorBytes - 1) / kSectorBytes;
      uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(
          std::min<uint64_t>(span, dataCache.MaxSectors()), dataEnd - sector));
      if (!Fill(dataCache, sector, 1, want)) break;
    }
    uint32_t n = std::min(remaining, kSectorBytes - inSector);
    std::memcpy(buffer + bytesRead, dataCache.At(sector) + inSector, n);
    bytesRead += n;
    cursor.position += n;
    remaining -= n;
    uint64_t cluster = cursor.startCluster + uint64_t{cursor.position} / layout.bytesPerCluster;
    cursor.currentCluster = static_cast<uint32_t>(
        std::min<uint64_t>(cluster, uint64_t{layout.clusterCount} + 1));
  }
  return true;
}

}  // namespace kestrel
