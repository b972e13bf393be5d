// The abstract item tree a volume engine builds while scanning: directories
// and files under a root named "Deleted", owned by their parent directory,
// and the volume that owns the root.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrel {

class CCustomDrive;
struct DeviceEntry;

class CDRItem {
 public:
  virtual ~CDRItem() = default;
};

class CCustomFile : public CDRItem {};

class CCustomDirectory : public CDRItem {
 public:
  std::u16string name;
  CCustomDrive* volume = nullptr;
  uint32_t engineValue = 0;
  uint8_t deletedMark = 0;
  uint8_t clusterState = 0;
  std::vector<std::unique_ptr<CDRItem>> children;  // directories and files, discovery order
  CCustomDirectory* parent = nullptr;

  // Destroys every child (directories with their subtrees).
  virtual void ClearChildren() { children.clear(); }
  // Walks the volume from this directory and builds its children.
  virtual void StartScan(int mode, void* notifyWindow) = 0;
};

class CCustomDrive {
 public:
  virtual ~CCustomDrive() = default;
  // Writes the item with this id below `destination` (which ends with a
  // separator) as destination + "Deleted\" + its path. 1 only when the item
  // was found and written completely.
  virtual int RecoverItem(CCustomDirectory* folder, uint32_t idLow, uint32_t idHigh,
                          const std::u16string& destination, int recurse) = 0;
  // Turns every file under `folder` into a found item in the registry.
  virtual int RegisterItems(CCustomDirectory* folder, const std::u16string& prefix,
                            int recurse) = 0;
  virtual void ResetItemIds() = 0;

  virtual CCustomDirectory* RootFolder() = 0;
  virtual const DeviceEntry* Device() const = 0;
};

using FatVolumeList = std::vector<std::unique_ptr<CCustomDrive>>;

// Made by the FAT engine: a volume placed at `firstSector` of the entry's
// device and initialised from its boot sector. Never null for a placement;
// a volume whose boot sector cannot be read is returned without a layout.
std::unique_ptr<CCustomDrive> CreateFatVolume(const DeviceEntry& device, uint32_t firstSector,
                                              uint32_t sectorCount);

}  // namespace kestrel
