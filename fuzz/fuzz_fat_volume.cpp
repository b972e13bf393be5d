// A FAT volume from a fuzzed image: boot sector and layout (Load, with the
// backup and size checks), FAT entries of both copies, the allocation map,
// the root directory's entries and folder recognition.
#include <cstdint>

#include "fuzz/FuzzSupport.h"
#include "kernel/fat/FatVolume.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrel;
  auto fat = fuzz::MapInputAsFatVolume(data, size);
  if (!fat->HasLayout()) return 0;
  const fat::FatLayout& layout = fat->Layout();
  uint32_t last = layout.clusterCount + 1 < 600 ? layout.clusterCount + 1 : 600;
  for (uint32_t c = 0; c <= last + 1; ++c) {
    fat->IsEndOfChain(fat->GetFatEntry(c, 0));
    fat->GetFatEntry(c, 1);
  }
  AllocationMap map = fat->ReadAllocationMap();
  if (map.Known() && map.Clusters() != layout.clusterCount) __builtin_trap();
  fat::DirCursor cursor;
  cursor.cluster = layout.rootCluster;
  fat::FatDirEntry dirEntry;
  for (int i = 0; i < 4096 && fat->NextDirEntry(cursor, dirEntry); ++i) {
  }
  for (uint32_t c = 0; c < 12; ++c) fat->IsFolderCluster(c);
  return 0;
}
