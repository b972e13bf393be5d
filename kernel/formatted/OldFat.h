// The previous FAT12/16/32 of a quick-formatted volume. A quick format
// leaves the data area alone, and every old subfolder's first cluster
// still starts with its "." and ".." entries, which give its own cluster
// and its parent's. One pass over the volume finds those clusters; the
// cluster size and data start are those that put the most of them where
// their own cluster number says (the old boot sector is gone); the
// folders' entries then give the names and the files, each read from its
// first cluster on (the old FAT is gone too).
#pragma once

#include <cstdint>
#include <vector>

#include "kernel/device/SectorReader.h"
#include "kernel/engine/Engine.h"
#include "kernel/fat/FatBootSector.h"
#include "kernel/formatted/OldTree.h"

namespace kestrel::formatted {

// A sector that starts a FAT subfolder: its byte offset on the volume and
// what its "." and ".." entries say.
struct DotSector {
  uint64_t offset = 0;
  uint32_t self = 0;
  uint32_t parent = 0;
};

// Whether the sector starts with a "." and a ".." folder entry; fills
// `out` (but its offset) when it does.
bool ReadDotSector(ByteView sector, DotSector& out);

// The cluster size and data start (byte offset of cluster 2) that place
// the most found folders at their own cluster. `fallback` wins ties (the
// geometry of the format over it: most quick formats keep it). False when
// no geometry places any folder and there is no fallback.
bool InferFatGeometry(const std::vector<DotSector>& found, const OldGeometry& fallback,
                      OldGeometry& out);

// One folder's entries: files and subfolders added to `tree` under `key`.
// Long names are taken when their checksum matches the short entry.
// Returns false when the bytes stop reading like a folder before an end
// entry (the caller may look in the next cluster).
bool ReadFolderEntries(ByteView entries, uint64_t key, const OldGeometry& geometry, OldTree& tree,
                       bool& ended);

Outcome FindOldFat(SectorReader& reader, uint64_t volumeBytes, ScanSink& sink, OldTree& tree);

}  // namespace kestrel::formatted
