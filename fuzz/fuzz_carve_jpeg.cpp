// The content scanner's Jpeg parser over fuzzed bytes.
#include "fuzz/CarveFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kestrel::fuzz::RunCarveParser(kestrel::carve::ParseJpeg, data, size);
  return 0;
}
