// Runs one content parser over a fuzzed input twice: all of it in memory,
// and with only its first bytes in memory and the rest read through the
// stream's cache in short reads. Both must agree, and no find may claim
// more bytes than there are.
#pragma once

#include <cstdlib>
#include <cstring>

#include "kernel/carve/Formats.h"

namespace kestrel::fuzz {

inline void RunCarveParser(bool (*parse)(carve::Stream&, carve::Find&), const uint8_t* data,
                           size_t size) {
  carve::Stream whole(ByteView(data, size));
  carve::Find a;
  const bool matchedWhole = parse(whole, a);
  const size_t head = size < 64 ? size : 64;
  carve::Stream split(ByteView(data, head), size,
                      [data, size](uint64_t off, uint8_t* out, size_t length, size_t& got) {
                        got = 0;
                        if (off >= size) return true;
                        // Short reads, as at the end of a device.
                        got = static_cast<size_t>(size - off < length ? size - off : length);
                        std::memcpy(out, data + off, got);
                        return true;
                      });
  carve::Find b;
  const bool matchedSplit = parse(split, b);
  if (matchedWhole != matchedSplit) std::abort();
  if (matchedWhole && (a.size != b.size || a.damaged != b.damaged || a.size > size)) std::abort();
}

}  // namespace kestrel::fuzz
