// GIF: header, screen descriptor and colour table, then extension and
// image blocks (each a chain of sub-blocks) up to the trailer byte.
#include <cstring>

#include "kernel/carve/Formats.h"

namespace kestrel::carve {

namespace {
constexpr uint64_t kBound = 256ull << 20;

// Skips a chain of sub-blocks from `pos`; false when it runs out.
bool SkipSubBlocks(Stream& s, uint64_t& pos) {
  for (int guard = 0; guard < (1 << 24); ++guard) {
    const uint8_t* n = s.Get(pos, 1);
    if (!n) return false;
    pos += 1 + *n;
    if (*n == 0) return true;
  }
  return false;
}
}  // namespace

bool ParseGif(Stream& s, Find& find) {
  const uint8_t* h = s.Get(0, 13);
  if (!h || (std::memcmp(h, "GIF87a", 6) != 0 && std::memcmp(h, "GIF89a", 6) != 0)) return false;
  if ((h[6] | h[7]) == 0 || (h[8] | h[9]) == 0) return false;  // no width or height
  s.Bound(kBound);
  find.type = u"gif";
  uint64_t pos = 13;
  if (h[10] & 0x80) pos += 3u << ((h[10] & 7) + 1);
  bool images = false;
  for (;;) {
    const uint8_t* b = s.Get(pos, 1);
    if (!b) break;
    if (*b == 0x3B) {
      find.size = pos + 1;
      find.damaged = !images;
      return true;
    }
    if (*b == 0x21) {
      if (!s.Get(pos + 1, 1)) break;
      pos += 2;
      if (!SkipSubBlocks(s, pos)) break;
    } else if (*b == 0x2C) {
      const uint8_t* d = s.Get(pos, 10);
      if (!d) break;
      const uint8_t flags = d[9];
      pos += 10;
      if (flags & 0x80) pos += 3u << ((flags & 7) + 1);
      const uint8_t* code = s.Get(pos, 1);
      if (!code || *code < 2 || *code > 12) break;
      pos += 1;
      if (!SkipSubBlocks(s, pos)) break;
      images = true;
    } else {
      break;
    }
  }
  find.size = pos < s.Limit() ? pos : s.Limit();
  find.damaged = true;
  return true;
}

}  // namespace kestrel::carve
