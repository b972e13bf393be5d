// MBR, EBR chain and GPT reading over a fuzzed disk, and the engines'
// probes of every partition found.
#include "fuzz/FuzzSupport.h"
#include "kernel/Enumeration.h"
#include "kernel/device/PartitionTable.h"
#include "kernel/device/SectorReader.h"
#include "kernel/os/Os.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kestrel::fuzz::MapInputAsDisk(data, size);
  kestrel::SectorReader disk(kestrel::os::OpenPhysicalDrive(0, kestrel::os::Access::Read), 512);
  kestrel::ReadPartitionTable(disk, size);
  kestrel::VolumeSource whole;
  whole.open = [] { return kestrel::os::OpenPhysicalDrive(0, kestrel::os::Access::Read); };
  kestrel::RecognisedPartitions(whole, size);
  return 0;
}
