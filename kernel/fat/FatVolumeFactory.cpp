// FAT volumes as discovery makes them: placed on a device, then initialised
// from their boot sector.
#include "kernel/CustomDrive.h"
#include "kernel/fat/FatDrive.h"

namespace kestrel {

std::unique_ptr<CCustomDrive> CreateFatVolume(const DeviceEntry& device, uint32_t firstSector,
                                              uint32_t sectorCount) {
  auto volume = std::make_unique<CFATdrive>(device, firstSector, sectorCount);
  // A volume that fails to initialise is still listed; it has no root
  // folder, so a scan of it ends at once with no items.
  volume->InitVolume();
  return volume;
}

}  // namespace kestrel
