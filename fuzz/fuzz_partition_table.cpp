// MBR and EBR chain walk over a fuzzed disk.
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "kernel/device/Enumeration.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kestrel::fuzz::MapInputAsDisk(data, size);
  kestrel::DeviceEntry entry;
  entry.kind = kestrel::kPhysicalDevice;
  entry.driveNumber = 128;
  entry.partitioned = 1;
  std::vector<kestrel::FatPlacement> found;
  kestrel::WalkPartitionTable(entry, 0, 0, found);
  return 0;
}
