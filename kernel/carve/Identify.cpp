// Which parsers a candidate's first bytes call for; text when none claims it.
#include <cstring>

#include "kernel/carve/Formats.h"

namespace kestrel::carve {

namespace {
bool Try(bool (*parse)(Stream&, Find&), Stream& s, Find& find) {
  s.Bound(UINT64_MAX);
  find = Find{};
  return parse(s, find);
}
}  // namespace

bool Identify(Stream& s, Find& find) {
  size_t got = 0;
  const uint8_t* p = s.GetSome(0, 16, got);
  if (!p || got < 8) return false;
  // Copied: a parser's reads may move the cache this points into.
  uint8_t h[16] = {};
  std::memcpy(h, p, got);
  switch (h[0]) {
    case 0xFF: if (Try(ParseJpeg, s, find)) return true; break;
    case 0x89: if (Try(ParsePng, s, find)) return true; break;
    case 0xD0: if (Try(ParseOle2, s, find)) return true; break;
    case 'G': if (Try(ParseGif, s, find)) return true; break;
    case 'B': if (Try(ParseBmp, s, find)) return true; break;
    case 'I':
      if (h[1] == 'D' && Try(ParseMp3, s, find)) return true;
      if (h[1] == 'I' && Try(ParseTiff, s, find)) return true;
      break;
    case 'M': if (h[1] == 'M' && Try(ParseTiff, s, find)) return true; break;
    case '%': if (Try(ParsePdf, s, find)) return true; break;
    case 'P': if (Try(ParseZip, s, find)) return true; break;
    case 'R': if (Try(ParseRiff, s, find)) return true; break;
    case 'S': if (Try(ParseSqlite, s, find)) return true; break;
    default: break;
  }
  if (std::memcmp(h + 4, "ftyp", 4) == 0 && Try(ParseIsoMedia, s, find)) return true;
  return Try(ParseText, s, find);
}

}  // namespace kestrel::carve
