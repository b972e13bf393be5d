// JPEG: SOI, marker segments by their lengths, entropy-coded data to the
// next real marker, up to EOI. Thumbnails live inside APP1 and are skipped
// with it, so their EOI does not end the file. A file whose markers stop
// making sense (a cluster of other data in the middle) is damaged.
#include <algorithm>
#include <cstring>

#include "kernel/carve/Formats.h"

namespace kestrel::carve {

namespace {

constexpr uint64_t kBound = 512ull << 20;
constexpr size_t kZeroBlock = 4096;

bool StandaloneMarker(uint8_t m) { return (m >= 0xD0 && m <= 0xD7) || m == 0x01; }

// Markers that may follow entropy-coded data: another scan's tables, the
// next scan (progressive), restart handling, comments, the end.
bool AfterScanMarker(uint8_t m) {
  return m == 0xC4 || m == 0xDA || m == 0xDB || m == 0xDD || m == 0xD9 || m == 0xFE ||
         m == 0xCC || (m >= 0xE0 && m <= 0xEF);
}

// EXIF DateTimeOriginal from an APP1 segment's body.
void ReadExif(Stream& s, uint64_t body, uint64_t length, Find& find) {
  static const uint8_t exif[6] = {'E', 'x', 'i', 'f', 0, 0};
  const uint8_t* p = s.Get(body, 6);
  if (length < 14 || !p || std::memcmp(p, exif, 6) != 0) return;
  TiffFacts t = ReadTiff(s, body + 6, length - 6);
  if (t.timeLocal) {
    find.modifiedUtc = t.timeLocal;
    find.timeIsLocal = true;
  }
}

// Walks entropy-coded data from `pos`; returns the offset of the marker
// that ends it, or the offset where the data stopped being plausible.
uint64_t SkipEntropy(Stream& s, uint64_t pos, bool& ok) {
  ok = false;
  for (;;) {
    size_t got = 0;
    const uint8_t* p = s.GetSome(pos, 1u << 16, got);
    if (!p || got == 0) return pos;
    // A whole block of zeros (looked at where blocks start) is free space,
    // not coded data.
    bool zeros = false;
    for (uint64_t b = (pos + kZeroBlock - 1) / kZeroBlock * kZeroBlock; b + kZeroBlock <= pos + got;
         b += kZeroBlock) {
      const uint8_t* z = p + (b - pos);
      if ((z[0] | z[1] | z[2] | z[3] | z[4] | z[5] | z[6] | z[7]) == 0 &&
          std::all_of(z, z + kZeroBlock, [](uint8_t x) { return x == 0; })) {
        // Coded data before the zeros is looked at for a marker first.
        got = static_cast<size_t>(b - pos);
        zeros = true;
        break;
      }
    }
    const uint8_t* end = p + got;
    for (const uint8_t* q = p; q < end;) {
      const uint8_t* ff = static_cast<const uint8_t*>(std::memchr(q, 0xFF, end - q));
      if (!ff) break;
      const uint64_t at = pos + (ff - p);
      const uint8_t* next = s.Get(at + 1, 1);
      if (!next) return at;
      const uint8_t m = *next;
      if (m == 0x00 || (m >= 0xD0 && m <= 0xD7) || m == 0xFF) {
        // Stuffed byte, restart marker or fill. `p` may have moved if the
        // marker byte lay past this piece: that only happens at its end.
        if (ff + 1 >= end) break;
        q = ff + 1;
        continue;
      }
      ok = AfterScanMarker(m);
      return at;
    }
    pos += got;
    if (zeros) return pos;
  }
}

}  // namespace

bool ParseJpeg(Stream& s, Find& find) {
  const uint8_t* head = s.Get(0, 4);
  if (!head || head[0] != 0xFF || head[1] != 0xD8 || head[2] != 0xFF) return false;
  const uint8_t first = head[3];
  if (!((first >= 0xE0 && first <= 0xEF) || first == 0xDB || first == 0xC4 || first == 0xC0 ||
        first == 0xFE))
    return false;
  s.Bound(kBound);
  find.type = u"jpg";
  uint64_t pos = 2;
  bool seenScan = false;
  for (;;) {
    const uint8_t* m = s.Get(pos, 2);
    if (!m || m[0] != 0xFF) break;
    uint8_t marker = m[1];
    if (marker == 0xFF) {  // fill bytes before a marker
      ++pos;
      continue;
    }
    if (marker == 0xD9) {
      find.size = pos + 2;
      find.damaged = !seenScan;
      return true;
    }
    if (marker == 0xD8 || marker == 0x00) break;
    if (StandaloneMarker(marker)) {
      pos += 2;
      continue;
    }
    ByteView len = s.View(pos + 2, 2);
    if (len.size() != 2) break;
    const uint64_t length = (uint64_t{len.data()[0]} << 8) | len.data()[1];
    if (length < 2) break;
    if (marker == 0xE1 && !find.modifiedUtc) ReadExif(s, pos + 4, length - 2, find);
    pos += 2 + length;
    if (marker == 0xDA) {
      seenScan = true;
      bool ok = false;
      pos = SkipEntropy(s, pos, ok);
      if (!ok) break;
    }
  }
  // Structure ended before EOI: cut, overwritten in part, or at the run's end.
  find.size = pos < s.Limit() ? pos : s.Limit();
  if (find.size < 4) find.size = 4;
  find.damaged = true;
  return true;
}

}  // namespace kestrel::carve
