// PNG: the signature, then chunks (length, type, data, CRC) up to IEND.
// Every chunk's CRC is checked; a bad one marks the file damaged, chunk
// types that are not letters end it there.
#include <cstring>

#include "kernel/carve/Crc32.h"
#include "kernel/carve/Formats.h"

namespace kestrel::carve {

namespace {
constexpr uint64_t kBound = 1ull << 30;

uint32_t Be32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
bool Letter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
}  // namespace

bool ParsePng(Stream& s, Find& find) {
  static const uint8_t sig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  const uint8_t* head = s.Get(0, 16);
  if (!head || std::memcmp(head, sig, 8) != 0 || std::memcmp(head + 12, "IHDR", 4) != 0)
    return false;
  s.Bound(kBound);
  find.type = u"png";
  uint64_t pos = 8;
  bool crcBad = false;
  for (;;) {
    const uint8_t* h = s.Get(pos, 8);
    if (!h || !Letter(h[4]) || !Letter(h[5]) || !Letter(h[6]) || !Letter(h[7])) break;
    const uint32_t length = Be32(h);
    if (length > 0x7FFFFFFFu) break;
    // Kept apart: later reads may move the cache `h` points into.
    uint8_t type[4];
    std::memcpy(type, h + 4, 4);
    // CRC over type and data, read in pieces.
    uint32_t crc = Crc32(0, type, 4);
    uint64_t at = pos + 8, left = length;
    bool available = true;
    while (left) {
      size_t got = 0;
      const uint8_t* p = s.GetSome(at, static_cast<size_t>(left < (1u << 16) ? left : 1u << 16), got);
      if (!p || !got) {
        available = false;
        break;
      }
      crc = Crc32(crc, p, got);
      at += got;
      left -= got;
    }
    const uint8_t* stored = available ? s.Get(at, 4) : nullptr;
    if (!stored) break;
    if (Be32(stored) != crc) crcBad = true;
    if (std::memcmp(type, "tIME", 4) == 0 && length == 7 && !find.modifiedUtc) {
      const uint8_t* t = s.Get(pos + 8, 7);
      if (t)
        find.modifiedUtc = FileTimeFromCivil((t[0] << 8) | t[1], t[2], t[3], t[4], t[5], t[6]);
    }
    pos = at + 4;
    if (std::memcmp(type, "IEND", 4) == 0) {
      find.size = pos;
      find.damaged = crcBad;
      return true;
    }
  }
  find.size = pos;
  find.damaged = true;
  return true;
}

}  // namespace kestrel::carve
