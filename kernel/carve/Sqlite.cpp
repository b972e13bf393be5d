// SQLite: the header's page size times its page count (when the count is
// valid for the header's change counter), page 1 holding a b-tree page.
#include <cstring>

#include "kernel/carve/Formats.h"

namespace kestrel::carve {

bool ParseSqlite(Stream& s, Find& find) {
  const uint8_t* h = s.Get(0, 108);
  if (!h || std::memcmp(h, "SQLite format 3", 16) != 0) return false;
  if (h[21] != 64 || h[22] != 32 || h[23] != 32) return false;
  uint64_t page = uint64_t{h[16]} << 8 | h[17];
  if (page == 1) page = 65536;
  if (page < 512 || (page & (page - 1)) != 0) return false;
  auto be32 = [&](size_t at) {
    return uint32_t{h[at]} << 24 | uint32_t{h[at + 1]} << 16 | uint32_t{h[at + 2]} << 8 | h[at + 3];
  };
  const uint32_t pages = be32(28);
  if (pages == 0 || be32(24) != be32(92)) return false;  // count from an old writer
  find.type = u"sqlite";
  const uint64_t size = page * pages;
  const uint8_t kind = h[100];
  const bool btree = kind == 0x02 || kind == 0x05 || kind == 0x0A || kind == 0x0D;
  if (size > s.Limit()) {
    find.size = s.Limit() - s.Limit() % page;
    find.damaged = true;
  } else {
    find.size = size;
    find.damaged = !btree;
  }
  if (find.size == 0) find.size = 108;
  return true;
}

}  // namespace kestrel::carve
