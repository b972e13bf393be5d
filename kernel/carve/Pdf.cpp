// PDF: from "%PDF-" to the last "%%EOF" (incremental updates append more),
// looking at most 1 MiB past each for another. The final startxref must
// point at a cross-reference table or stream inside the file; a file with
// no "%%EOF" or a startxref that misses is damaged. /CreationDate gives
// the time.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "kernel/carve/Formats.h"

namespace kestrel::carve {

namespace {

constexpr uint64_t kBound = 1ull << 30;
constexpr uint64_t kAfterEof = 1u << 20;
constexpr size_t kChunk = 1u << 16;
constexpr size_t kOverlap = 32;

// "D:YYYYMMDDHHmmSS" with an optional zone "+HH'mm'", "-HH'mm'" or "Z".
uint64_t PdfDate(const uint8_t* t, size_t n) {
  if (n < 16 || t[0] != 'D' || t[1] != ':') return 0;
  int v[6] = {0, 1, 1, 0, 0, 0};
  const int widths[6] = {4, 2, 2, 2, 2, 2};
  size_t at = 2;
  for (int f = 0; f < 6; ++f) {
    int x = 0;
    for (int k = 0; k < widths[f]; ++k, ++at) {
      if (at >= n || t[at] < '0' || t[at] > '9') return 0;
      x = x * 10 + (t[at] - '0');
    }
    v[f] = x;
  }
  uint64_t ft = FileTimeFromCivil(v[0], v[1], v[2], v[3], v[4], v[5]);
  if (!ft || at + 3 > n || (t[at] != '+' && t[at] != '-')) return ft;
  const int hh = (t[at + 1] - '0') * 10 + (t[at + 2] - '0');
  int mm = 0;
  if (at + 6 < n && t[at + 3] == '\'' && t[at + 4] >= '0' && t[at + 4] <= '9')
    mm = (t[at + 4] - '0') * 10 + (t[at + 5] - '0');
  if (hh < 0 || hh > 23 || mm < 0 || mm > 59) return ft;
  const int64_t shift = (hh * 60 + mm) * 600000000LL;
  return t[at] == '+' ? ft - shift : ft + shift;  // to UTC
}

uint64_t Number(const uint8_t* p, size_t n) {
  size_t i = 0;
  while (i < n && (p[i] == ' ' || p[i] == '\r' || p[i] == '\n')) ++i;
  uint64_t v = 0;
  size_t digits = 0;
  for (; i < n && p[i] >= '0' && p[i] <= '9' && digits < 15; ++i, ++digits) v = v * 10 + (p[i] - '0');
  return digits ? v : UINT64_MAX;
}

}  // namespace

bool ParsePdf(Stream& s, Find& find) {
  const uint8_t* h = s.Get(0, 8);
  if (!h || std::memcmp(h, "%PDF-", 5) != 0 || h[5] < '1' || h[5] > '2' || h[6] != '.') return false;
  s.Bound(kBound);
  find.type = u"pdf";
  uint64_t lastEof = 0, startxref = UINT64_MAX, pos = 0;
  for (;;) {
    if (lastEof && pos > lastEof + kAfterEof) break;
    size_t got = 0;
    const uint8_t* p = s.GetSome(pos, kChunk, got);
    if (!p || got == 0) break;
    std::string_view chunk(reinterpret_cast<const char*>(p), got);
    bool another = false;
    for (size_t at = chunk.find('%'); at != std::string_view::npos; at = chunk.find('%', at + 1)) {
      std::string_view rest = chunk.substr(at);
      if (rest.size() < 5) break;
      if (rest.substr(0, 5) == "%%EOF") {
        uint64_t end = pos + at + 5;
        // The end-of-line after the marker belongs to the file.
        if (at + 5 < got && p[at + 5] == '\r') ++end;
        if (end - pos < got && p[end - pos] == '\n') ++end;
        lastEof = end;
        // startxref and its offset just before.
        size_t from = at > 40 ? at - 40 : 0;
        std::string_view before = chunk.substr(from, at - from);
        size_t sx = before.rfind("startxref");
        if (sx != std::string_view::npos)
          startxref = Number(p + from + sx + 9, before.size() - sx - 9);
      } else if (pos + at > 0 && rest.substr(0, 5) == "%PDF-") {
        another = true;  // the next file begins: this one ended before
        got = at;
        break;
      }
    }
    if (!find.modifiedUtc) {
      size_t c = chunk.substr(0, got).find("/CreationDate");
      if (c != std::string_view::npos) {
        size_t open = chunk.find('(', c);
        if (open != std::string_view::npos && open < c + 20 && open + 1 < got)
          find.modifiedUtc = PdfDate(p + open + 1, std::min<size_t>(got - open - 1, 24));
      }
    }
    if (another || got < kChunk) {
      pos += got;
      break;
    }
    pos += got - kOverlap;  // patterns split across reads are seen again
  }
  if (!lastEof) {
    find.size = std::max<uint64_t>(std::min(pos, s.Limit()), 8);
    find.damaged = true;
    return true;
  }
  find.size = lastEof;
  find.damaged = true;
  if (startxref != UINT64_MAX && startxref + 4 <= lastEof) {
    const uint8_t* x = s.Get(startxref, 4);
    find.damaged = !x || !(std::memcmp(x, "xref", 4) == 0 || (x[0] >= '1' && x[0] <= '9'));
  }
  return true;
}

}  // namespace kestrel::carve
