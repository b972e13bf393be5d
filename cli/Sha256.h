// SHA-256 of what `recover` wrote, for its report. Small and portable: the
// Windows build has no system library to lean on in the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrel::cli {

class Sha256 {
 public:
  void Update(const void* data, size_t size);
  // The digest as 64 lower-case hex digits; the object is spent afterwards.
  std::string Hex();

 private:
  void Block(const uint8_t* p);
  uint32_t h_[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                    0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  uint8_t buffer_[64] = {};
  size_t used_ = 0;
  uint64_t total_ = 0;
};

}  // namespace kestrel::cli
