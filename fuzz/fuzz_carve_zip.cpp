// The content scanner's Zip parser over fuzzed bytes.
#include "fuzz/CarveFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kestrel::fuzz::RunCarveParser(kestrel::carve::ParseZip, data, size);
  return 0;
}
