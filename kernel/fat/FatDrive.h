// One FAT12/16/32 volume: its layout, FAT entries, directory and file
// cursors over its sectors, and the root of its deleted-item tree.
//
// Every device read goes through ReadDeviceSectors at firstSector + a sector
// number relative to the volume. Three caches keep the reads sequential and
// few: FAT sectors, directory sectors and file data, each a window of
// consecutive sectors filled by one device call.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "kernel/CustomDrive.h"
#include "kernel/fat/FatBootSector.h"
#include "kernel/fat/FatDirEntry.h"
#include "kernel/fat/FatTable.h"

namespace kestrel {

class CFATDirectory;
class CFATFile;

namespace fat {

// How often one cluster may be walked as a directory during one scan. A
// healthy volume walks a cluster once, or a few times when deleted folders
// point at a cluster a newer folder reuses; crafted entries that point many
// folders at the same clusters cannot multiply the work beyond this.
constexpr uint8_t kMaxWalksPerCluster = 16;

class ClusterBudget {
 public:
  bool Take(uint32_t cluster) { return ++walks_[cluster] <= kMaxWalksPerCluster; }

 private:
  std::unordered_map<uint32_t, uint8_t> walks_;
};

// Position along one directory. cluster 0 is the fixed root of FAT12/16.
struct DirCursor {
  uint32_t cluster = 0;
  uint32_t rootSector = 0;   // relative to the volume
  uint32_t entryIndex = 0;   // next entry in the current cluster or root sector
  // Clusters this directory has entered: a chain leading back ends it.
  std::unordered_set<uint32_t> entered;
  ClusterBudget* budget = nullptr;  // the scan's, when walking for a scan
};

// Position inside a file whose clusters are taken to follow one another.
struct FileCursor {
  uint32_t startCluster = 0;
  uint32_t currentCluster = 0;
  uint32_t position = 0;  // bytes delivered so far
  uint32_t size = 0;
};

// A run of consecutive sectors held in memory.
class SectorWindow {
 public:
  explicit SectorWindow(uint32_t maxSectors) : maxSectors_(maxSectors) {}
  bool Holds(uint64_t sector, uint32_t count = 1) const {
    return count_ != 0 && sector >= first_ && count <= count_ && sector - first_ <= count_ - count;
  }
  const uint8_t* At(uint64_t sector) const {
    return data_.data() + (sector - first_) * kSectorBytes;
  }
  uint32_t MaxSectors() const { return maxSectors_; }
  void Invalidate() { count_ = 0; }
  // Storage for `count` sectors starting at `sector`; Commit after a read.
  uint8_t* Prepare(uint32_t count) {
    count_ = 0;
    if (data_.size() < size_t{count} * kSectorBytes) data_.resize(size_t{count} * kSectorBytes);
    return data_.data();
  }
  void Commit(uint64_t sector, uint32_t count) {
    first_ = sector;
    count_ = count;
  }

 private:
  uint32_t maxSectors_;
  std::vector<uint8_t> data_;
  uint64_t first_ = 0;
  uint32_t count_ = 0;
};

}  // namespace fat

class CFATdrive final : public CCustomDrive {
 public:
  CFATdrive(const DeviceEntry& device, uint32_t firstSector, uint32_t sectorCount);
  ~CFATdrive() override;

  // Reads the boot sector, derives the layout, decides whether the FAT can
  // be trusted for directory chains and creates the root folder. False when
  // the boot sector cannot be read or describes no volume this engine reads
  // (sector size other than 512, BPS or SPC 0, areas outside the volume);
  // the volume then has no root folder and a scan finds nothing.
  bool InitVolume();

  // The entry of `cluster` in FAT copy `fatIndex`; 0 outside 2..clusterCount+1
  // and when the FAT sector cannot be read.
  uint32_t GetFatEntry(uint32_t cluster, uint32_t fatIndex);
  bool IsEndOfChain(uint32_t value) const;
  static uint8_t ClassifyFatValue(uint8_t fatType, uint32_t value);

  // Copies the next 32-byte entry along a directory (out may be null to
  // only advance to it) and moves the cursor on.
  bool NextDirEntry(fat::DirCursor& cursor, fat::FatDirEntry* out);
  // Copies up to maxBytes of a file from its consecutive clusters.
  bool ReadFileChunk(fat::FileCursor& cursor, uint32_t maxBytes, uint8_t* buffer,
                     uint32_t& bytesRead);

  // The next entry with its display name (long name, or short name). Mode 1
  // returns deleted entries too.
  bool NextNamedEntry(fat::DirCursor& cursor, fat::FatDirEntry& entry, std::u16string& name,
                      size_t capacity, int mode);
  // Rebuilds a long name from the run starting at `entry`; on success
  // `entry` holds the entry that follows the run.
  bool ReadLongName(fat::DirCursor& cursor, fat::FatDirEntry& entry, std::u16string& name);
  // True when the cluster starts with the "." and ".." entries.
  bool IsFolderCluster(uint32_t cluster);

  // CCustomDrive
  int RecoverItem(CCustomDirectory* folder, uint32_t idLow, uint32_t idHigh,
                  const std::u16string& destination, int recurse) override;
  int RegisterItems(CCustomDirectory* folder, const std::u16string& prefix, int recurse) override;
  // A new scan numbers its files afresh: the id index goes with the old ones.
  void ResetItemIds() override {
    nextFileId = 0;
    fileIndex.clear();
    fileIndexBuilt = false;
  }
  CCustomDirectory* RootFolder() override;
  const DeviceEntry* Device() const override { return device; }

  bool HasLayout() const { return layout.fatType != fat::kFatUnknown; }
  const fat::FatLayout& Layout() const { return layout; }
  uint8_t FatType() const { return layout.fatType; }
  uint32_t TakeFileId() { return nextFileId++; }
  bool IsDataCluster(uint32_t cluster) const {
    return cluster >= 2 && cluster - 2 < layout.clusterCount;
  }

  // Placement (set by discovery).
  uint32_t firstSector = 0;
  uint32_t sectorCount = 0;
  const DeviceEntry* device = nullptr;

  uint8_t chainFat = 1;  // 1: chains through the first FAT; 0: consecutive clusters
  std::array<uint8_t, fat::kBootCopyBytes> bootCopy{};
  uint32_t nextFileId = 0;

 private:
  bool ReadSectors(uint64_t relative, uint32_t count, uint8_t* buffer);
  // Makes `window` hold [sector, sector+need), reading up to `want` sectors
  // at once; falls back to just `need` when the longer read fails.
  bool Fill(fat::SectorWindow& window, uint64_t sector, uint32_t need, uint32_t want);
  bool TryGetFatEntry(uint32_t cluster, uint32_t fatIndex, uint32_t& value);
  bool EnterCluster(fat::DirCursor& cursor, uint32_t cluster);
  bool NextDirectoryCluster(fat::DirCursor& cursor, uint32_t& next);
  bool LooksLikeDirectoryContinuation(uint32_t cluster);
  uint64_t ClusterFirstSector(uint32_t cluster) const {
    return layout.firstDataSector + uint64_t{cluster - 2} * layout.sectorsPerCluster;
  }

  // The file each id names (the first one met depth first, as a walk of
  // the tree would find it), built on the first recovery after a scan, so
  // that recovering many items does not walk the whole tree for each.
  CFATFile* IndexedFile(uint32_t id);

  fat::FatLayout layout;
  std::unique_ptr<CFATDirectory> rootFolder;
  std::unordered_map<uint32_t, CFATFile*> fileIndex;
  bool fileIndexBuilt = false;
  fat::SectorWindow fatCache{64};
  fat::SectorWindow dirCache{64};
  fat::SectorWindow dataCache{128};
};

}  // namespace kestrel
