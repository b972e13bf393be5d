// The content scanner's Mp3 parser over fuzzed bytes.
#include "fuzz/CarveFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kestrel::fuzz::RunCarveParser(kestrel::carve::ParseMp3, data, size);
  return 0;
}
