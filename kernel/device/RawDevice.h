// Geometry of physical disks and lettered volumes: from the system where it
// answers, otherwise (for disks) from the partition table.
#pragma once

#include <cstdint>
#include <vector>

#include "kernel/os/Os.h"

namespace kestrel {

enum MediaClass : uint16_t {
  kMediaUnknown = 0,
  kMediaFloppy = 1,
  kMediaRemovable = 2,
  kMediaFixed = 3,
  kMediaCdrom = 4,
};

struct GeometrySummary {
  uint16_t mediaClass = 0;
  uint16_t removable = 0;
  uint32_t cylinders = 0;
  uint32_t tracksPerCylinder = 0;
  uint32_t sectorsPerTrack = 0;
  uint32_t bytesPerSector = 0;
  uint64_t totalSectors = 0;  // 64-bit: a 32-bit product is wrong past 2 TiB
};

// MEDIA_TYPE to media class.
uint16_t MediaClassFromType(uint32_t mediaType);

// The first 4096 bytes of a device, read whole for both 512- and
// 4096-byte sectors. Empty when fewer than 512 bytes arrive.
std::vector<uint8_t> ReadLeadingBytes(os::Device& device);

bool QueryPhysicalGeometry(uint8_t driveNumber, GeometrySummary& out);
// The system's geometry of a lettered volume; false when it gives none
// (under Wine, for mapped images): the listing then asks the volume's boot
// sector through the engines' probes.
bool QueryVolumeGeometry(uint8_t letterIndex, GeometrySummary& out);
}  // namespace kestrel
