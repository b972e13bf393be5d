// The deleted-entry walk: every entry of every directory from the root,
// depth first, each file registered through the scan sink as it is met.
//
// What is walked: live folders; deleted folders whose first cluster still
// starts with "." and ".." (read on through the following free clusters
// while they hold entries, when the chain was cleared). What is listed:
// files (attributes exactly 0x01, 0x02, 0x04 or 0x20) that are deleted, or
// lie in a folder below a deleted folder. A folder is not entered when its
// cluster is not a data cluster, when it is the first cluster of one of its
// ancestors (a cycle), or when its path would pass the item-path limit; a
// file is not listed when its path would pass that limit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kernel/engine/AllocationMap.h"
#include "kernel/engine/Engine.h"
#include "kernel/fat/FatVolume.h"

namespace kestrel::fat {

// What recovery needs of a listed file; its id is its index.
struct FoundFile {
  std::u16string relativePath;  // within the volume, safe components joined by "\"
  uint32_t startCluster = 0;
  uint32_t size = 0;
  bool liveEntry = false;  // not marked deleted: its FAT chain may still be its own
};

// The clusters a recovery reads, in file order.
struct ClusterPlan {
  std::vector<ClusterRun> runs;
  bool ownChain = false;       // the entry's own chain, still allocated to it
  bool fragmentGuess = false;  // stepped around clusters in use now
};

// Where a file's bytes are taken from: its own chain when a live entry
// still holds one; else the clusters from its first one on, and when some
// of those are in use now, the free clusters in order, stepping over the
// ones in use (the file was written around files that still exist).
// Without `withRuns` only ownChain and fragmentGuess are decided (the
// scan's question), which costs no walk over the free clusters.
ClusterPlan PlanClusters(FatVolume& volume, const AllocationMap& map, const FoundFile& file,
                         bool withRuns = true);

// Recoverability, flags and times of a file from its entry.
ItemDetails DetailsOf(FatVolume& volume, const AllocationMap& map, const FoundFile& file,
                      const FatDirEntry& entry, uint64_t entryOffset, bool inDeletedFolder);

// Walks the volume from its root; `files` receives every listed file.
Outcome WalkVolume(FatVolume& volume, const AllocationMap& map, ScanSink& sink,
                   std::vector<FoundFile>& files);

}  // namespace kestrel::fat
