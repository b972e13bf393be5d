// Volume recognition and geometry from a fuzzed boot sector: every engine's
// probe, and the same enumeration the kernel runs at start-up.
#include "fuzz/FuzzSupport.h"
#include "kernel/Bytes.h"
#include "kernel/device/RawDevice.h"
#include "kernel/engine/Engine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kestrel::ProbeLead(kestrel::ByteView(data, size), nullptr);
  kestrel::fuzz::MapInputAsVolume(data, size);
  kestrel::GeometrySummary g;
  kestrel::QueryVolumeGeometry(6, g);  // F:
  return 0;
}
