// The content scanner's Ole2 parser over fuzzed bytes.
#include "fuzz/CarveFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kestrel::fuzz::RunCarveParser(kestrel::carve::ParseOle2, data, size);
  return 0;
}
