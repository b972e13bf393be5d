// Finding the disks and the lettered FAT and NTFS volumes, once per SH_Init.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kernel/CustomDrive.h"
#include "kernel/device/DeviceEntry.h"

namespace kestrel {

// Where a FAT volume lies on its device.
struct FatPlacement {
  uint32_t firstSector = 0;
  uint32_t sectorCount = 0;
};

void EnumerateDevices(DeviceList& list);
bool BuildDeviceName(const DeviceList& list, size_t index, std::u16string& out, size_t capacity);
void DiscoverFatVolumes(FatVolumeList& volumes, const DeviceEntry& entry);

// Reads the MBR (tableSector 0) or an EBR and appends the FAT partitions it
// describes, then follows extended entries. Loops in the chain end.
void WalkPartitionTable(const DeviceEntry& entry, uint32_t tableSector, uint32_t extendedBase,
                        std::vector<FatPlacement>& found);

// The FsKind a volume's own boot sector gives, or 0.
uint8_t FsKindFromBootSector(char16_t letter);

}  // namespace kestrel
