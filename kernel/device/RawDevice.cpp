#include "kernel/device/RawDevice.h"

#include <memory>
#include <vector>

#include "kernel/device/PartitionTable.h"
#include "kernel/os/Os.h"

namespace kestrel {
namespace {

char16_t FloppyLetter(uint8_t driveNumber) { return driveNumber == 0 ? u'A' : u'B'; }

void FillFromSystemGeometry(const os::DiskGeometry& g, GeometrySummary& out) {
  out.cylinders = static_cast<uint32_t>(g.cylinders);
  out.tracksPerCylinder = g.tracksPerCylinder;
  out.sectorsPerTrack = g.sectorsPerTrack;
  out.bytesPerSector = g.bytesPerSector;
  out.totalSectors = g.cylinders * g.tracksPerCylinder * g.sectorsPerTrack;
}

}  // namespace

std::vector<uint8_t> ReadLeadingBytes(os::Device& device) {
  std::vector<uint8_t> bytes(4096);
  size_t got = 0;
  if (!device.ReadAt(0, bytes.data(), bytes.size(), got) || got < 512) return {};
  bytes.resize(got);
  return bytes;
}


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

}  // namespace kestrel
