// The content scanner's Pdf parser over fuzzed bytes.
#include "fuzz/CarveFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kestrel::fuzz::RunCarveParser(kestrel::carve::ParsePdf, data, size);
  return 0;
}
