// Which clusters of a volume are in use now, read once per scan from the
// volume's own map ($Bitmap, the FAT, the exFAT allocation bitmap), and the
// recoverability of a file over the clusters it is known or assumed to have
// occupied.
#pragma once

#include <cstdint>
#include <vector>

#include "kernel/engine/ItemDetails.h"

namespace kestrel {

// A run of clusters of a file, in file order. `sparse` runs hold no clusters.
struct ClusterRun {
  uint64_t first = 0;
  uint64_t count = 0;
  bool sparse = false;
};

class AllocationMap {
 public:
  // An empty map: every question answers "unknown".
  AllocationMap() = default;
  // A map of `clusters` clusters numbered from `firstCluster`, all free.
  AllocationMap(uint64_t firstCluster, uint64_t clusters);

  bool Known() const { return known_; }
  uint64_t FirstCluster() const { return first_; }
  uint64_t Clusters() const { return count_; }
  void SetUsed(uint64_t cluster);
  // Marks `count` clusters from bit 0 of `bits` (LSB first, as NTFS and exFAT store them).
  void SetFromBitmap(uint64_t fromCluster, const uint8_t* bits, uint64_t count);
  // Clusters outside the map count as in use: nothing can be read there.
  bool InUse(uint64_t cluster) const;
  // In-use clusters among [first, first + count).
  uint64_t CountInUse(uint64_t first, uint64_t count) const;

  // The state of a file of `size` bytes laid over `runs` of `clusterBytes`:
  // intact when none of its clusters is in use now, overwritten when all
  // are or its first one is, partly overwritten otherwise (with the share
  // of its bytes in clusters in use). Empty files are intact.
  void Assess(const std::vector<ClusterRun>& runs, uint64_t size, uint64_t clusterBytes,
              ItemDetails& out) const;

 private:
  bool known_ = false;
  uint64_t first_ = 0;
  uint64_t count_ = 0;
  std::vector<uint64_t> words_;
};

}  // namespace kestrel
