#include "kernel/exfat/ExfatBitmap.h"

#include <algorithm>
#include <vector>

namespace kestrel::exfat {

bool ReadAllocationBitmap(SectorReader& reader, ExfatFat& fat, const ExfatBoot& boot,
                          const BitmapLocation& where, AllocationMap& out) {
  out = AllocationMap();
  const uint64_t need = (uint64_t{boot.clusterCount} + 7) / 8;
  if (!boot.IsCluster(where.firstCluster) || where.length < need) return false;
  // The bitmap is written in one go at format time; its chain is followed
  // when it has one, else it is read as one run.
  const uint64_t clusterBytes = boot.ClusterBytes();
  const uint64_t clusters = (need + clusterBytes - 1) / clusterBytes;
  const uint64_t ownClusters = where.length / clusterBytes + 1;
  std::vector<ClusterRun> runs;
  uint64_t chained = 0;
  if (fat.Chain(where.firstCluster, ownClusters, false, runs) == ChainEnd::Complete)
    for (const ClusterRun& run : runs) chained += run.count;
  if (chained < clusters) runs.assign(1, {where.firstCluster, clusters, false});
  std::vector<uint8_t> bits;
  if (need > SIZE_MAX) return false;
  bits.resize(static_cast<size_t>(need));
  uint64_t filled = 0;
  for (const ClusterRun& run : runs) {
    if (filled == need) break;
    if (!boot.IsCluster(run.first) || !boot.IsCluster(run.first + run.count - 1)) return false;
    const uint64_t take = std::min(need - filled, run.count * clusterBytes);
    if (!reader.ReadExact(boot.ClusterByte(run.first), bits.data() + filled, static_cast<size_t>(take)))
      return false;
    filled += take;
  }
  if (filled < need) return false;
  AllocationMap map(kFirstCluster, boot.clusterCount);
  map.SetFromBitmap(kFirstCluster, bits.data(), boot.clusterCount);
  out = std::move(map);
  return true;
}

}  // namespace kestrel::exfat
