// Volume recognition and geometry from a fuzzed boot sector, through the
// same enumeration the kernel runs at start-up.
#include "fuzz/FuzzSupport.h"
#include "kernel/Bytes.h"
#include "kernel/device/BootGeometry.h"
#include "kernel/device/RawDevice.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kestrel::ReadBootGeometry(kestrel::ByteView(data, size));
  kestrel::fuzz::MapInputAsVolume(data, size);
  kestrel::GeometrySummary g;
  if (kestrel::QueryVolumeGeometry(6, g) && g.bytesPerSector != 0) {  // F:
    static uint8_t sectors[8 * 4096];
    kestrel::ReadVolumeSectors(6, 0, 8, sectors);
  }
  return 0;
}
