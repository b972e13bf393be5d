// One probed device: a physical disk (or floppy) or a lettered volume.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kernel/device/PartitionTable.h"
#include "kernel/device/VolumeSource.h"

namespace kestrel {

enum DeviceKind : uint8_t { kPhysicalDevice = 0, kLetteredVolume = 1 };

// A partition of a physical disk that one of the engines recognises.
struct DevicePartition {
  int number = 0;         // as the partition table numbers it
  uint8_t fsKind = 0;
  std::u16string typeName;  // "NTFS", "FAT32", "exFAT"
  VolumeSource source;
  PartitionEntry entry;     // as the table gives it
};

struct DeviceEntry {
  std::u16string displayName;  // "C:" or "fixed disk #1"
  uint8_t kind = kPhysicalDevice;
  uint8_t mediaClass = 0;
  uint64_t totalSectors = 0;   // kept 64-bit: disks over 2 TiB
  uint32_t bytesPerSector = 0;
  uint16_t partitioned = 0;
  uint8_t driveNumber = 0;     // physical: 0/1 floppy, 128+n disk n; volume: letter index
  uint8_t fsKind = 0;          // volumes: 1 NTFS, 2 FAT (exFAT too)
  std::u16string typeName;     // volumes: what the engine's probe calls it
  VolumeSource source;         // the volume, or the whole disk
  std::vector<DevicePartition> partitions;  // physical: the recognised partitions
  TableKind tableKind = TableKind::None;    // physical: the table they came from

  char16_t Letter() const { return static_cast<char16_t>(driveNumber + 64); }
};

using DeviceList = std::vector<std::unique_ptr<DeviceEntry>>;


}  // namespace kestrel
