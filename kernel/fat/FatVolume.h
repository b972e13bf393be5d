// One FAT12/16/32 volume: its layout, FAT entries, and directory cursors
// over its sectors, read through the volume's own SectorReader.
//
// Two caches keep the reads sequential and few: FAT sectors and directory
// sectors, each a window of consecutive bytes filled by one read. Every
// offset is a byte offset inside the volume, so sectors of 512 to 4096
// bytes are read alike.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "kernel/device/SectorReader.h"
#include "kernel/engine/AllocationMap.h"
#include "kernel/engine/Outcome.h"
#include "kernel/fat/FatBootSector.h"
#include "kernel/fat/FatDirEntry.h"
#include "kernel/fat/FatTable.h"

namespace kestrel::fat {

// Display names are built in buffers of this many units.
constexpr size_t kNameCapacity = 1024;
// Long names are assembled backwards into a 256-unit buffer from this
// position, 13 units per entry, at most 18 entries.
constexpr int kLongNameEnd = 234;
constexpr int kMaxLongNameEntries = 18;

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

// Position along one directory. cluster 0 is the fixed root of FAT12/16,
// walked by entry index from its start.
struct DirCursor {
  uint32_t cluster = 0;
  uint32_t entryIndex = 0;  // next entry in the current cluster or the fixed root
  uint64_t lastOffset = 0;  // volume offset of the entry read last
  // Clusters this directory has entered: a chain leading back ends it.
  std::unordered_set<uint32_t> entered;
  ClusterBudget* budget = nullptr;     // the scan's, when walking for a scan
  uint64_t* clustersWalked = nullptr;  // counts entered clusters for progress
};

// A run of consecutive bytes of the volume held in memory.
class ByteWindow {
 public:
  explicit ByteWindow(uint32_t maxBytes) : maxBytes_(maxBytes) {}
  bool Holds(uint64_t offset, uint32_t length) const {
    return length_ != 0 && offset >= first_ && InBounds(offset - first_, length, length_);
  }
  const uint8_t* At(uint64_t offset) const { return data_.data() + (offset - first_); }
  uint32_t MaxBytes() const { return maxBytes_; }
  void Invalidate() { length_ = 0; }
  uint8_t* Prepare(uint32_t length) {
    length_ = 0;
    if (data_.size() < length) data_.resize(length);
    return data_.data();
  }
  void Commit(uint64_t offset, uint32_t length) {
    first_ = offset;
    length_ = length;
  }

 private:
  uint32_t maxBytes_;
  std::vector<uint8_t> data_;
  uint64_t first_ = 0;
  uint32_t length_ = 0;
};

// The outcome a layout result stands for, with its sentence.
Outcome DescribeLayout(LayoutResult result, ByteView boot);

class FatVolume {
 public:
  // `device` reads the volume from its first byte; `deviceSectorBytes` is
  // what reads are aligned to until the boot sector says more.
  FatVolume(std::unique_ptr<os::Device> device, uint32_t deviceSectorBytes);

  // Reads and checks the boot sector (and FAT32's backup), checks that the
  // device holds the whole volume, and decides whether the FAT can be
  // trusted for directory chains. Not Ok: the volume has no layout.
  Outcome Load();

  bool HasLayout() const { return layout_.fatType != kFatUnknown; }
  const FatLayout& Layout() const { return layout_; }
  uint8_t FatType() const { return layout_.fatType; }
  ByteView BootSector() const { return ByteView(boot_.data(), boot_.size()); }
  bool IsDataCluster(uint32_t cluster) const {
    return cluster >= 2 && cluster - 2 < layout_.clusterCount;
  }
  // 1: directory chains through the first FAT; 0: consecutive clusters (a
  // FAT that was cleared, as a quick format leaves it).
  bool ChainsThroughFat() const { return chainFat_; }
  SectorReader& Reader() { return reader_; }
  // The volume offset of the last failed read.
  uint64_t LastFailedOffset() const { return failedOffset_; }

  // Forgets what the caches hold (the volume may have changed since).
  void DropCaches() {
    fatCache_.Invalidate();
    dirCache_.Invalidate();
  }

  // The entry of `cluster` in FAT copy `fatIndex`; 0 outside 2..clusterCount+1
  // and when the FAT cannot be read.
  uint32_t GetFatEntry(uint32_t cluster, uint32_t fatIndex);
  bool TryGetFatEntry(uint32_t cluster, uint32_t fatIndex, uint32_t& value);
  bool IsEndOfChain(uint32_t value) const { return IsEndOfChainValue(layout_.fatType, value); }

  // Which clusters the first FAT says are in use, read in large sequential
  // pieces. Unknown (empty) when the FAT cannot be read.
  AllocationMap ReadAllocationMap();

  // Copies the next 32-byte entry along a directory and moves the cursor on.
  bool NextDirEntry(DirCursor& cursor, FatDirEntry& out);
  // The next entry with its display name (long name, or short name),
  // deleted entries included. False at the end of the directory. Live
  // files get no name unless `nameLiveFiles` (the walk lists none outside
  // deleted folders, and most entries of a volume are live files).
  bool NextNamedEntry(DirCursor& cursor, FatDirEntry& entry, std::u16string& name,
                      bool nameLiveFiles = true);
  // True when the cluster starts with the "." and ".." entries.
  bool IsFolderCluster(uint32_t cluster);

 private:
  // Makes `window` hold [offset, offset+need), reading up to `want` bytes
  // at once; falls back to just `need` when the longer read fails.
  bool Fill(ByteWindow& window, uint64_t offset, uint32_t need, uint32_t want);
  bool EnterCluster(DirCursor& cursor, uint32_t cluster);
  bool NextDirectoryCluster(DirCursor& cursor, uint32_t& next);
  bool LooksLikeDirectoryContinuation(uint32_t cluster);
  bool ReadLongName(DirCursor& cursor, FatDirEntry& entry, std::u16string& name, bool& named);

  SectorReader reader_;
  FatLayout layout_;
  std::vector<uint8_t> boot_;
  bool chainFat_ = true;
  uint64_t failedOffset_ = 0;
  ByteWindow fatCache_{64 * 1024};
  ByteWindow dirCache_{64 * 1024};
};

}  // namespace kestrel::fat
