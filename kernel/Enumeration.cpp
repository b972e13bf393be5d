#include "kernel/Enumeration.h"

#include <cstdio>

#include "kernel/Bytes.h"
#include "kernel/device/PartitionTable.h"
#include "kernel/device/RawDevice.h"
#include "kernel/device/SectorReader.h"
#include "kernel/os/Os.h"

namespace kestrel {
namespace {

VolumeSource PhysicalSource(uint8_t driveNumber) {
  VolumeSource source;
  if (driveNumber >= 128) {
    const int number = driveNumber - 128;
    source.open = [number] { return os::OpenPhysicalDrive(number, os::Access::Read); };
  } else {
    const char16_t letter = driveNumber == 0 ? u'A' : u'B';
    source.open = [letter] { return os::OpenVolume(letter, os::Access::Read); };
  }
  return source;
}

}  // namespace

std::vector<uint8_t> ReadLead(const VolumeSource& source) {
  auto device = source.OpenWindow();
  return device ? ReadLeadingBytes(*device) : std::vector<uint8_t>();
}

ProbeResult ProbeSource(const VolumeSource& source, const EngineEntry** which) {
  if (which) *which = nullptr;
  std::vector<uint8_t> lead = ReadLead(source);
  if (lead.empty()) {
    ProbeResult r;
    r.outcome = Outcome::ReadFailed(0);
    return r;
  }
  return ProbeLead(ByteView(lead.data(), lead.size()), which);
}

bool ReadDiskPartitions(const std::u16string& spec, PartitionTable& table,
                        std::vector<ProbedPartition>& out) {
  out.clear();
  VolumeSource disk;
  disk.open = [spec] { return os::OpenImagePath(spec); };
  auto device = disk.open();
  if (!device) return false;
  uint64_t bytes = 0;
  device->QuerySize(bytes);
  SectorReader reader(std::move(device), 512);
  table = ReadPartitionTable(reader, bytes);
  for (const PartitionEntry& e : table.entries) {
    VolumeSource part;
    part.open = disk.open;
    part.base = e.firstByte;
    part.length = e.bytes;
    ProbeResult probe;
    if (e.bytes != 0) probe = ProbeSource(part);
    out.push_back(ProbedPartition{e, probe});
  }
  return true;
}

std::vector<DevicePartition> RecognisedPartitions(const VolumeSource& disk, uint64_t diskBytes,
                                                  TableKind* kind) {
  std::vector<DevicePartition> found;
  if (kind) *kind = TableKind::None;
  SectorReader reader(disk.OpenWindow(), disk.deviceSectorBytes);
  if (!reader.IsOpen()) return found;
  PartitionTable table = ReadPartitionTable(reader, diskBytes);
  if (kind) *kind = table.kind;
  for (const PartitionEntry& e : table.entries) {
    if (e.bytes == 0) continue;
    VolumeSource part;
    part.open = disk.open;
    part.base = disk.base + e.firstByte;
    part.length = e.bytes;
    part.deviceSectorBytes = disk.deviceSectorBytes;
    char name[48];
    std::snprintf(name, sizeof name, ", partition %d", e.number);
    part.name = disk.name + Ascii16(name);
    ProbeResult probe = ProbeSource(part);
    if (!probe.Matches()) continue;
    found.push_back(DevicePartition{e.number, probe.fsKind, probe.typeName, std::move(part), e});
  }
  return found;
}

bool VolumeGeometry(uint8_t letterIndex, GeometrySummary& out) {
  if (QueryVolumeGeometry(letterIndex, out)) return true;
  const uint16_t mediaClass = out.mediaClass;
  // The control call fails under Wine, for images and for some virtual
  // disks: take the size and sector size from the volume's own boot sector.
  ProbeResult probe = ProbeSource(LetterSource(static_cast<char16_t>(letterIndex + 64)));
  if (!probe.Matches() || probe.sectorBytes == 0) return false;
  out = GeometrySummary{};
  out.mediaClass = mediaClass;
  out.bytesPerSector = probe.sectorBytes;
  out.totalSectors = probe.totalSectors;
  return true;
}

void EnumerateDevices(DeviceList& list) {
  for (int number = 0; number <= 254; ++number) {
    GeometrySummary g;
    if (!QueryPhysicalGeometry(static_cast<uint8_t>(number), g)) continue;
    auto entry = std::make_unique<DeviceEntry>();
    entry->kind = kPhysicalDevice;
    entry->driveNumber = static_cast<uint8_t>(number);
    entry->totalSectors = g.totalSectors;
    entry->bytesPerSector = g.bytesPerSector;
    entry->mediaClass = g.mediaClass > kMediaFixed ? 0 : static_cast<uint8_t>(g.mediaClass);
    entry->partitioned = entry->mediaClass == kMediaFloppy ? 0 : 1;
    entry->source = PhysicalSource(entry->driveNumber);
    if (g.bytesPerSector >= 512) entry->source.deviceSectorBytes = g.bytesPerSector;
    list.push_back(std::move(entry));
  }
  for (int index = 1; index <= 25; ++index) {  // A: to Y:
    char16_t letter = static_cast<char16_t>(index + 64);
    GeometrySummary g;
    if (!VolumeGeometry(static_cast<uint8_t>(index), g)) continue;
    // A file system the system names and no engine reads (CDFS, UDF, ReFS)
    // is not offered. Wine names every image-backed volume NTFS, and mapped
    // images have no system name at all: the engines' probes decide.
    std::u16string fsName;
    if (os::GetFileSystemName(letter, fsName) && fsName.find(u"FAT") == std::u16string::npos &&
        fsName.find(u"NTFS") == std::u16string::npos)
      continue;
    VolumeSource source = LetterSource(letter);
    if (g.bytesPerSector >= 512) source.deviceSectorBytes = g.bytesPerSector;
    ProbeResult probe = ProbeSource(source);
    if (!probe.Matches()) continue;
    auto entry = std::make_unique<DeviceEntry>();
    entry->kind = kLetteredVolume;
    entry->driveNumber = static_cast<uint8_t>(index);
    entry->fsKind = probe.fsKind;
    entry->typeName = probe.typeName;
    uint32_t type = os::QueryDriveType(letter);
    entry->mediaClass = (type >= 2 && type <= 6) ? static_cast<uint8_t>(type) : 0;
    entry->totalSectors = g.totalSectors;
    entry->bytesPerSector = g.bytesPerSector;
    entry->source = std::move(source);
    list.push_back(std::move(entry));
  }
  for (size_t i = 0; i < list.size(); ++i) {
    DeviceEntry& entry = *list[i];
    BuildDeviceName(list, i, entry.displayName, 2048);
    if (entry.kind == kPhysicalDevice) {
      entry.source.name = entry.displayName;
      if (entry.partitioned)
        entry.partitions = RecognisedPartitions(
            entry.source, entry.totalSectors * (entry.bytesPerSector >= 512 ? entry.bytesPerSector : 512),
            &entry.tableKind);
    }
  }
}

bool BuildDeviceName(const DeviceList& list, size_t index, std::u16string& out, size_t capacity) {
  if (index >= list.size() || !list[index]) return false;
  const DeviceEntry& entry = *list[index];
  char text[64];
  if (entry.kind == kLetteredVolume) {
    std::snprintf(text, sizeof text, "%c:", static_cast<char>(entry.driveNumber + 64));
  } else {
    const char* format = nullptr;
    switch (entry.mediaClass) {
      case 0: format = "unknown disk #%d"; break;
      case 1: format = "floppy disk #%d"; break;
      case 2: format = "removable disk #%d"; break;
      case 3: format = "fixed disk #%d"; break;
      case 5: format = "CD-ROM #%d"; break;
      default: return true;  // no name for these classes
    }
    std::snprintf(text, sizeof text, format, static_cast<int>(index + 1));
  }
  std::u16string name = Ascii16(text);
  if (name.size() < capacity) out = name;
  return true;
}

}  // namespace kestrel
