#include "kernel/device/RawDevice.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "kernel/device/PartitionTable.h"
#include "kernel/device/DeviceEntry.h"
#include "kernel/os/Os.h"

namespace kestrel {
namespace {

// The first bytes of a device, read aligned for both 512- and 4096-byte
// sectors. Empty when fewer than 512 bytes arrive.
std::vector<uint8_t> ReadLeadingBytes(os::Device& device) {
  std::vector<uint8_t> bytes(4096);
  size_t got = 0;
  if (!device.ReadAt(0, bytes.data(), bytes.size(), got) || got < 512) return {};
  bytes.resize(got);
  return bytes;
}

struct ReadHandle {
  std::unique_ptr<os::Device> device;
  int owner = -1;  // letter index or drive number it belongs to
  uint32_t bytesPerSector = 0;
};

ReadHandle g_volumeHandle;
ReadHandle g_physicalHandle;
uint64_t g_openCount = 0;
std::function<void(uint32_t)> g_chunkObserver;

alignas(4096) uint8_t g_staging[kStagingBytes];

char16_t FloppyLetter(uint8_t driveNumber) { return driveNumber == 0 ? u'A' : u'B'; }

void FillFromSystemGeometry(const os::DiskGeometry& g, GeometrySummary& out) {
  out.cylinders = static_cast<uint32_t>(g.cylinders);
  out.tracksPerCylinder = g.tracksPerCylinder;
  out.sectorsPerTrack = g.sectorsPerTrack;
  out.bytesPerSector = g.bytesPerSector;
  out.totalSectors = g.cylinders * g.tracksPerCylinder * g.sectorsPerTrack;
}

// Reads `count` bytes at `offset` through the staging buffer in chunks of
// at most `chunkLimit` bytes. Every chunk must arrive whole.
bool ReadThroughStaging(os::Device& device, uint64_t offset, uint64_t count, uint32_t chunkLimit,
                        uint8_t* destination) {
  bool ok = true;
  while (count > 0) {
    uint32_t chunk = static_cast<uint32_t>(std::min<uint64_t>(count, chunkLimit));
    size_t got = 0;
    ok = device.ReadAt(offset, g_staging, chunk, got) && got == chunk;
    if (!ok) break;
    std::memcpy(destination, g_staging, chunk);
    destination += chunk;
    offset += chunk;
    count -= chunk;
    if (g_chunkObserver) g_chunkObserver(chunk);
  }
  return ok;
}

}  // namespace

uint16_t MediaClassFromType(uint32_t mediaType) {
  if ((mediaType >= 1 && mediaType <= 10) || (mediaType >= 13 && mediaType <= 22))
    return kMediaFloppy;
  if (mediaType == 11) return kMediaRemovable;
  if (mediaType == 12) return kMediaFixed;
  return kMediaUnknown;
}

bool QueryPhysicalGeometry(uint8_t driveNumber, GeometrySummary& out) {
  std::unique_ptr<os::Device> device;
  if (driveNumber >= 128) {
    device = os::OpenPhysicalDrive(driveNumber - 128, os::Access::Query);
    if (!device) return false;
  } else if (driveNumber <= 1) {
    device = os::OpenVolume(FloppyLetter(driveNumber), os::Access::Query);
    if (!device) return false;
    if (!device->CheckVerify()) return false;  // an empty floppy drive
  } else {
    return false;
  }
  os::DiskGeometry g;
  if (device->QueryGeometry(g)) {
    out = GeometrySummary{};
    out.mediaClass = MediaClassFromType(g.mediaType);
    out.removable = (out.mediaClass == kMediaFloppy || out.mediaClass == kMediaRemovable) ? 1 : 0;
    FillFromSystemGeometry(g, out);
    return true;
  }
  if (driveNumber <= 1) return false;
  // No geometry from the system: size the disk from its partition table so
  // that it is still listed.
  device.reset();
  auto reader = os::OpenPhysicalDrive(driveNumber - 128, os::Access::Read);
  if (!reader) return false;
  auto lead = ReadLeadingBytes(*reader);
  if (lead.empty()) return false;
  uint64_t sectors = SectorsCoveredByPartitionTable(ByteView(lead.data(), lead.size()));
  if (sectors == 0) return false;
  out = GeometrySummary{};
  out.mediaClass = kMediaFixed;
  out.bytesPerSector = 512;
  out.totalSectors = sectors;
  return true;
}

bool QueryVolumeGeometry(uint8_t letterIndex, GeometrySummary& out) {
  char16_t letter = static_cast<char16_t>(letterIndex + 64);
  auto device = os::OpenVolume(letter, os::Access::Query);
  if (!device) return false;
  out = GeometrySummary{};
  if (os::QueryDriveType(letter) == os::kDriveCdrom) {
    out.mediaClass = kMediaCdrom;
    out.removable = 1;
    out.bytesPerSector = 2048;
    return true;
  }
  os::DiskGeometry g;
  bool ok = device->QueryGeometry(g);
  out.mediaClass = MediaClassFromType(g.mediaType);
  if (ok) {
    FillFromSystemGeometry(g, out);
    return true;
  }
  return false;
}

bool ReadVolumeSectors(uint8_t letterIndex, uint32_t firstSector, uint16_t sectorCount,
                       void* destination) {
  ReadHandle& h = g_volumeHandle;
  if (!h.device || h.owner != letterIndex) {
    h.device.reset();
    h.owner = letterIndex;  // remembered even when the open fails
    h.bytesPerSector = 0;
    h.device = os::OpenVolume(static_cast<char16_t>(letterIndex + 64), os::Access::Read);
    ++g_openCount;
    GeometrySummary g;
    if (QueryVolumeGeometry(letterIndex, g)) h.bytesPerSector = g.bytesPerSector;
  }
  if (!h.device || h.bytesPerSector == 0) return false;
  uint64_t bps = h.bytesPerSector;
  uint32_t chunkLimit = static_cast<uint32_t>(std::min<uint64_t>(128 * bps, kStagingBytes));
  return ReadThroughStaging(*h.device, uint64_t{firstSector} * bps, uint64_t{sectorCount} * bps,
                            chunkLimit, static_cast<uint8_t*>(destination));
}

bool ReadPhysicalSectors(uint8_t driveNumber, uint32_t firstSector, uint16_t sectorCount,
                         void* destination) {
  ReadHandle& h = g_physicalHandle;
  if (!h.device || h.owner != driveNumber) {
    h.device.reset();
    h.owner = driveNumber;
    if (driveNumber >= 128)
      h.device = os::OpenPhysicalDrive(driveNumber - 128, os::Access::Read);
    else if (driveNumber <= 1)
      h.device = os::OpenVolume(FloppyLetter(driveNumber), os::Access::Read);
    else
      return false;  // 2 to 127 name no device
    ++g_openCount;
  }
  if (!h.device) return false;
  return ReadThroughStaging(*h.device, uint64_t{firstSector} * 512, uint64_t{sectorCount} * 512,
                            kStagingBytes, static_cast<uint8_t*>(destination));
}

bool ReadDeviceSectors(const DeviceEntry& entry, uint32_t firstSector, uint16_t sectorCount,
                       void* destination) {
  switch (entry.kind) {
    case kPhysicalDevice:
      return ReadPhysicalSectors(entry.driveNumber, firstSector, sectorCount, destination);
    case kLetteredVolume:
      return ReadVolumeSectors(entry.driveNumber, firstSector, sectorCount, destination);
    default:
      return false;
  }
}

void CloseReadHandles() {
  g_volumeHandle = ReadHandle{};
  g_physicalHandle = ReadHandle{};
}

uint64_t ReadHandleOpenCount() { return g_openCount; }

void SetChunkObserver(std::function<void(uint32_t)> observer) {
  g_chunkObserver = std::move(observer);
}

}  // namespace kestrel
