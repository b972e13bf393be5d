// The deleted-item tree of a FAT volume: every live folder the walk passes
// through, every deleted folder that still holds its "." and ".." entries,
// and the files to list (deleted, or below a deleted folder).
#pragma once

#include <cstdint>
#include <string>

#include "kernel/CustomDrive.h"

namespace kestrel {

class CFATdrive;

// deletedMark: 1 when the entry starts with 0xE5. clusterState, for deleted
// items: 1 when the first FAT marks the first cluster free, else 2.
class CFATDirectory final : public CCustomDirectory {
 public:
  uint32_t startCluster = 0;
  uint32_t rootSector = 0;       // the fixed root's first sector; 0 for subfolders
  void* notifyWindow = nullptr;  // only on the folder a scan starts from
  uint32_t foundCount = 0;

  // Remembers the window, zeroes the found count and walks from here.
  void StartScan(int mode, void* window) override;
  // Walks this folder's entries, depth first through its subfolders.
  void ScanFolder(int mode);

  CFATdrive* Drive() const;
};

class CFATFile final : public CCustomFile {
 public:
  std::u16string name;
  uint32_t size = 0;
  CFATdrive* volume = nullptr;
  uint8_t deletedMark = 0;
  uint8_t clusterState = 0;
  CFATDirectory* parent = nullptr;
  uint8_t attributes = 0;
  uint32_t startCluster = 0;
  uint16_t time = 0;
  uint16_t date = 0;
  uint32_t fileId = 0;  // unique within the volume for one scan, from 0 in walk order

  // Copies the entry values (attributes, first cluster, time, date, size).
  CFATFile* CopyTo(CFATFile* target) const;
};

}  // namespace kestrel
