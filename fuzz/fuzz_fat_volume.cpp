// A FAT volume from a fuzzed image: boot sector and layout (InitVolume),
// FAT entries of both copies, the root directory's entries, folder
// recognition and file reads from the data area.
#include <cstdint>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "kernel/CustomDrive.h"
#include "kernel/device/DeviceEntry.h"
#include "kernel/fat/FatDrive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrel;
  auto volume = fuzz::MapInputAsFatVolume(data, size);
  auto* fat = dynamic_cast<CFATdrive*>(volume.get());
  if (!fat || !fat->HasLayout()) return 0;
  const fat::FatLayout& layout = fat->Layout();
  uint32_t last = layout.clusterCount + 1 < 600 ? layout.clusterCount + 1 : 600;
  for (uint32_t c = 0; c <= last + 1; ++c) {
    fat->IsEndOfChain(fat->GetFatEntry(c, 0));
    fat->GetFatEntry(c, 1);
  }
  fat::DirCursor cursor;
  cursor.cluster = layout.rootCluster;
  cursor.rootSector = layout.rootDirFirstSector;
  fat::FatDirEntry dirEntry;
  for (int i = 0; i < 4096 && fat->NextDirEntry(cursor, &dirEntry); ++i) {
  }
  for (uint32_t c = 0; c < 12; ++c) fat->IsFolderCluster(c);
  static std::vector<uint8_t> buffer(64 * 1024);
  for (uint32_t start : {uint32_t{2}, layout.clusterCount, layout.clusterCount + 1}) {
    fat::FileCursor file;
    file.startCluster = file.currentCluster = start;
    file.size = 0xFFFFFFFFu;
    uint32_t got = 0;
    fat->ReadFileChunk(file, static_cast<uint32_t>(buffer.size()), buffer.data(), got);
    if (got > buffer.size()) __builtin_trap();
  }
  return 0;
}
