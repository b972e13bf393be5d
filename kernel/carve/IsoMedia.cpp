// MP4, MOV and 3GP: top-level boxes by their sizes from "ftyp" on, while
// their types are ones that stand at the top of such a file. The movie
// box's children must fill it exactly; a file without movie data or one
// whose last box runs past what is available is damaged.
#include <cstring>

#include "kernel/carve/Formats.h"

namespace kestrel::carve {

namespace {

constexpr uint64_t kBound = 16ull << 30;

uint32_t Be32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
uint64_t Be64(const uint8_t* p) { return uint64_t{Be32(p)} << 32 | Be32(p + 4); }

bool TopLevel(const uint8_t* t) {
  static const char* const kTypes[] = {"ftyp", "moov", "mdat", "free", "skip", "wide", "uuid",
                                       "meta", "pdin", "moof", "mfra", "sidx", "styp", "pnot",
                                       "udta", "junk", "PICT", "prfl"};
  for (const char* k : kTypes)
    if (std::memcmp(t, k, 4) == 0) return true;
  return false;
}

// A box header at `pos`: its full size (0 when malformed) and header size.
uint64_t BoxSize(Stream& s, uint64_t pos, uint64_t& header) {
  const uint8_t* h = s.Get(pos, 8);
  if (!h) return 0;
  uint64_t size = Be32(h);
  header = 8;
  if (size == 1) {
    const uint8_t* l = s.Get(pos + 8, 8);
    if (!l) return 0;
    size = Be64(l);
    header = 16;
  }
  return size >= header ? size : 0;
}

// The children of a container fill it exactly.
bool ChildrenFit(Stream& s, uint64_t from, uint64_t end) {
  int guard = 0;
  while (from < end && ++guard < 100000) {
    uint64_t header = 0;
    const uint64_t size = BoxSize(s, from, header);
    if (!size || size > end - from) return false;
    from += size;
  }
  return from == end;
}

}  // namespace

bool ParseIsoMedia(Stream& s, Find& find) {
  const uint8_t* h = s.Get(0, 12);
  if (!h || std::memcmp(h + 4, "ftyp", 4) != 0) return false;
  const uint32_t first = Be32(h);
  if (first < 16 || first > 4096) return false;
  s.Bound(kBound);
  if (std::memcmp(h + 8, "qt  ", 4) == 0) find.type = u"mov";
  else if (std::memcmp(h + 8, "3g", 2) == 0) find.type = u"3gp";
  else if (std::memcmp(h + 8, "M4A ", 4) == 0) find.type = u"m4a";
  else find.type = u"mp4";
  uint64_t pos = 0;
  bool movie = false, data = false, fits = true, overrun = false;
  for (int n = 0; n < 100000; ++n) {
    const uint8_t* t = s.Get(pos + 4, 4);
    if (!t || !TopLevel(t)) break;
    uint8_t type[4];
    std::memcpy(type, t, 4);
    uint64_t header = 0;
    const uint64_t size = BoxSize(s, pos, header);
    if (!size) break;
    if (size > s.Limit() - pos) {
      overrun = true;
      pos = s.Limit();
      break;
    }
    if (std::memcmp(type, "moov", 4) == 0 || std::memcmp(type, "moof", 4) == 0) {
      movie = true;
      if (!ChildrenFit(s, pos + header, pos + size)) fits = false;
    }
    if (std::memcmp(type, "mdat", 4) == 0) data = true;
    pos += size;
    if (s.Stopped()) break;
  }
  find.size = pos;
  find.damaged = overrun || !fits || !movie || !data || s.Broken();
  return true;
}

}  // namespace kestrel::carve
