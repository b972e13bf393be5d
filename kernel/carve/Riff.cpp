// AVI and WAV: the RIFF size gives the extent; the chunks inside, and
// those of the lists among them, must fill it. AVI files over 1 GiB
// continue in "RIFF....AVIX" parts that follow at once.
#include <cstring>

#include "kernel/carve/Formats.h"

namespace kestrel::carve {

namespace {

constexpr int kMaxParts = 64;
constexpr int kMaxDepth = 4;

// The chunks of a RIFF form or list between `from` and `end` (padded to
// even) follow one another exactly. Lists ("LIST" and a list type) hold
// chunks of their own: an AVI's frames lie in its "movi" list, so a cluster
// of other data there breaks the chain. `budget` bounds the chunks looked
// at; when it runs out, what was seen is taken as it is.
bool ChunksFit(Stream& s, uint64_t from, uint64_t end, int depth, uint64_t& budget) {
  while (from + 8 <= end) {
    if (budget == 0) return true;
    --budget;
    ByteView c = s.View(from, 8);
    if (c.size() != 8) return false;
    for (int k = 0; k < 4; ++k)
      if (c.u8(k) < 0x20 || c.u8(k) > 0x7E) return false;
    const uint64_t size = c.u32(4);
    if (c.Equals(0, "LIST", 4) && depth < kMaxDepth) {
      if (size < 4 || size > end - from - 8) return false;
      if (!ChunksFit(s, from + 12, from + 8 + size, depth + 1, budget)) return false;
    }
    from += 8 + size + (size & 1);
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
  uint64_t budget = uint64_t{1} << 22;
  find.damaged = !ChunksFit(s, 12, size, 0, budget);
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
    if (!ChunksFit(s, end + 12, end + more, 0, budget)) find.damaged = true;
    end += more;
  }
  find.size = end;
  return true;
}

}  // namespace kestrel::carve
