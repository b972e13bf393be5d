#include "kernel/device/Enumeration.h"

#include <cstdio>
#include <set>

#include "kernel/Bytes.h"
#include "kernel/device/BootGeometry.h"
#include "kernel/device/RawDevice.h"
#include "kernel/os/Os.h"

namespace kestrel {
namespace {

constexpr uint8_t kFsNtfs = 1;
constexpr uint8_t kFsFat = 2;

// An extended-partition chain deeper than this is taken to be damaged.
constexpr int kMaxTableDepth = 256;

bool IsFatPartitionType(uint8_t type) {
  return type == 0x01 || type == 0x04 || type == 0x06 || type == 0x0B || type == 0x0C ||
         type == 0x0E;
}
bool IsExtendedPartitionType(uint8_t type) { return type == 0x05 || type == 0x0F; }

std::u16string Ascii(const char* text) {
  std::u16string out;
  for (; *text; ++text) out += static_cast<char16_t>(static_cast<unsigned char>(*text));
  return out;
}

void Walk(const DeviceEntry& entry, uint32_t tableSector, uint32_t extendedBase,
          std::vector<FatPlacement>& found, std::set<uint32_t>& visited, int depth) {
  if (depth > kMaxTableDepth || !visited.insert(tableSector).second) return;
  uint8_t sector[512];
  if (!ReadDeviceSectors(entry, tableSector, 1, sector)) return;
  ByteView table(sector, sizeof sector);
  for (int i = 0; i < 4; ++i) {
    size_t e = 0x1BE + 16 * i;
    if (!IsFatPartitionType(table.u8(e + 4))) continue;
    uint64_t first = uint64_t{tableSector} + table.u32(e + 8);
    if (first > UINT32_MAX) continue;  // beyond what 32-bit sector numbers reach
    found.push_back(FatPlacement{static_cast<uint32_t>(first), table.u32(e + 12)});
  }
  for (int i = 0; i < 4; ++i) {
    size_t e = 0x1BE + 16 * i;
    if (!IsExtendedPartitionType(table.u8(e + 4))) continue;
    uint32_t start = table.u32(e + 8);
    uint64_t next = extendedBase == 0 ? start : uint64_t{extendedBase} + start;
    if (next > UINT32_MAX) continue;
    uint32_t base = extendedBase == 0 ? start : extendedBase;
    Walk(entry, static_cast<uint32_t>(next), base, found, visited, depth + 1);
  }
}

}  // namespace

void WalkPartitionTable(const DeviceEntry& entry, uint32_t tableSector, uint32_t extendedBase,
                        std::vector<FatPlacement>& found) {
  std::set<uint32_t> visited;
  Walk(entry, tableSector, extendedBase, found, visited, 0);
}

uint8_t FsKindFromBootSector(char16_t letter) {
  auto device = os::OpenVolume(letter, os::Access::Read);
  if (!device) return 0;
  uint8_t lead[4096];
  size_t got = 0;
  if (!device->ReadAt(0, lead, sizeof lead, got) || got < 512) return 0;
  switch (ReadBootGeometry(ByteView(lead, got)).kind) {
    case BootKind::Ntfs: return kFsNtfs;
    case BootKind::Fat:
    case BootKind::ExFat: return kFsFat;
    default: return 0;
  }
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
    list.push_back(std::move(entry));
  }
  for (int index = 1; index <= 25; ++index) {  // A: to Y:
    char16_t letter = static_cast<char16_t>(index + 64);
    GeometrySummary g;
    if (!QueryVolumeGeometry(static_cast<uint8_t>(index), g)) continue;
    uint8_t fsKind = 0;
    std::u16string fsName;
    bool systemNamed = os::GetFileSystemName(letter, fsName);
    if (systemNamed) {
      if (fsName.find(u"FAT") != std::u16string::npos) fsKind = kFsFat;
      else if (fsName.find(u"NTFS") != std::u16string::npos) fsKind = kFsNtfs;
    }
    // The boot sector has the last word: Wine reports every volume backed by
    // an image as NTFS, and mapped images have no system name at all.
    if (fsKind != 0 || !systemNamed) {
      if (uint8_t fromBoot = FsKindFromBootSector(letter)) fsKind = fromBoot;
    }
    if (fsKind == 0) continue;
    auto entry = std::make_unique<DeviceEntry>();
    entry->kind = kLetteredVolume;
    entry->driveNumber = static_cast<uint8_t>(index);
    entry->fsKind = fsKind;
    uint32_t type = os::QueryDriveType(letter);
    entry->mediaClass = (type >= 2 && type <= 6) ? static_cast<uint8_t>(type) : 0;
    entry->totalSectors = g.totalSectors;
    entry->bytesPerSector = g.bytesPerSector;
    list.push_back(std::move(entry));
  }
  for (size_t i = 0; i < list.size(); ++i) BuildDeviceName(list, i, list[i]->displayName, 2048);
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
  std::u16string name = Ascii(text);
  if (name.size() < capacity) out = name;
  return true;
}

void DiscoverFatVolumes(FatVolumeList& volumes, const DeviceEntry& entry) {
  if (entry.partitioned) {
    uint8_t sector[512];
    if (!ReadDeviceSectors(entry, 0, 1, sector)) return;
    std::vector<FatPlacement> found;
    WalkPartitionTable(entry, 0, 0, found);
    for (const FatPlacement& p : found) {
      if (auto volume = CreateFatVolume(entry, p.firstSector, p.sectorCount))
        volumes.push_back(std::move(volume));
    }
    return;
  }
  // A listed FAT volume always gets its object, even when its first sector
  // cannot be read now: a scan of it then ends at once with WM_CLOSE instead
  // of starting nothing and leaving the host waiting.
  uint32_t count = entry.totalSectors > UINT32_MAX ? UINT32_MAX
                                                   : static_cast<uint32_t>(entry.totalSectors);
  if (auto volume = CreateFatVolume(entry, 0, count)) volumes.push_back(std::move(volume));
}

}  // namespace kestrel
