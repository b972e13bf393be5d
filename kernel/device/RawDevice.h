// Raw sector reads of physical disks and lettered volumes through one
// library-wide 64 KiB staging buffer, with one open read handle per kind of
// device that stays open between reads.
#pragma once

#include <cstdint>
#include <functional>

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

constexpr uint32_t kStagingBytes = 65536;

// MEDIA_TYPE to media class.
uint16_t MediaClassFromType(uint32_t mediaType);

bool QueryPhysicalGeometry(uint8_t driveNumber, GeometrySummary& out);
// The system's geometry of a lettered volume; false when it gives none
// (under Wine, for mapped images): the listing then asks the volume's boot
// sector through the engines' probes.
bool QueryVolumeGeometry(uint8_t letterIndex, GeometrySummary& out);
bool ReadVolumeSectors(uint8_t letterIndex, uint32_t firstSector, uint16_t sectorCount,
                       void* destination);
bool ReadPhysicalSectors(uint8_t driveNumber, uint32_t firstSector, uint16_t sectorCount,
                         void* destination);

// Closes both read handles (tests; the library keeps them until exit).
void CloseReadHandles();

// Test seams: how many times a read handle was opened, and a hook called
// after every chunk with the chunk's byte count.
uint64_t ReadHandleOpenCount();
void SetChunkObserver(std::function<void(uint32_t chunkBytes)> observer);

}  // namespace kestrel
