// AVI and WAV: the RIFF size gives the extent; the chunks inside must
// fill it. AVI files over 1 GiB continue in "RIFF....AVIX" parts that
// follow at once.
#include <cstring>

#include "kernel/carve/Formats.h"

namespace kestrel::carve {

namespace {

constexpr int kMaxParts = 64;

// The chunks of a RIFF form between `from` and `end` (padded to even).
bool ChunksFit(Stream& s, uint64_t from, uint64_t end) {
  for (int guard = 0; from + 8 <= end && guard < 1000000; ++guard) {
    ByteView c = s.View(from, 8);
    if (c.size() != 8) return false;
    for (int k = 0; k < 4; ++k)
      if (c.u8(k) < 0x20 || c.u8(k) > 0x7E) return false;
    from += 8 + uint64_t{c.u32(4)} + (c.u32(4) & 1);
    if (s.Stopped()) return false;
  }
  // A final odd chunk may leave out its pad byte.
  return from == end || from == end + 1;
}

}  // namespace

bool ParseRiff(Stream& s, Find& find) {
  ByteView h = s.View(0, 12);
  if (h.size() != 12 || !h.Equals(0, "RIFF", 4)) return false;
  if (h.Equals(8, "WAVE", 4)) find.type = u"wav";
  else if (h.Equals(8, "AVI ", 4)) find.type = u"avi";
  else return false;
  const uint64_t size = uint64_t{h.u32(4)} + 8;
  if (size < 20) return false;
  if (size > s.Limit()) {
    find.size = s.Limit();
    find.damaged = true;
    return true;
  }
  find.damaged = !ChunksFit(s, 12, size);
  uint64_t end = size;
  for (int part = 0; find.type[0] == u'a' && part < kMaxParts; ++part) {
    ByteView x = s.View(end, 12);
    if (x.size() != 12 || !x.Equals(0, "RIFF", 4) || !x.Equals(8, "AVIX", 4)) break;
    const uint64_t more = uint64_t{x.u32(4)} + 8;
    if (more > s.Limit() - end) {
      end = s.Limit();
      find.damaged = true;
      break;
    }
    end += more;
  }
  find.size = end;
  return true;
}

}  // namespace kestrel::carve
