// TIFF and the raw camera formats built on it (CR2, NEF, DNG): the extent
// is the furthest byte reached by any IFD, out-of-line value, strip or
// tile, following the IFD chain, SubIFDs and the EXIF IFD. The same walk
// reads the EXIF block of a JPEG for its DateTimeOriginal.
#include <algorithm>
#include <cstring>
#include <vector>

#include "kernel/carve/Formats.h"

namespace kestrel::carve {

namespace {

constexpr uint64_t kBound = 2ull << 30;
constexpr int kMaxIfds = 64;
constexpr uint32_t kMaxEntries = 4096;
constexpr uint32_t kMaxOffsets = 1u << 20;

uint32_t TypeBytes(uint16_t type) {
  switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
  }
}

class Walker {
 public:
  Walker(Stream& s, uint64_t base, uint64_t available, bool big)
      : s_(s), base_(base), available_(available), big_(big) {}

  uint32_t U16(uint64_t off) {
    const uint8_t* p = s_.Get(base_ + off, 2);
    if (!p) return Bad(), 0;
    return big_ ? (p[0] << 8 | p[1]) : (p[1] << 8 | p[0]);
  }
  uint32_t U32(uint64_t off) {
    const uint8_t* p = s_.Get(base_ + off, 4);
    if (!p) return Bad(), 0;
    return big_ ? (uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3])
                : le32(p);
  }
  // One value of an array of SHORT or LONG.
  uint32_t Value(uint16_t type, uint64_t off) { return type == 3 ? U16(off) : U32(off); }

  // An offset past what is there is a fault, not an extent: a damaged
  // file must not stretch over the free space after it.
  void Reach(uint64_t end) {
    if (end > available_) return Bad();
    facts.extent = std::max(facts.extent, end);
  }
  void Bad() { facts.bad = true; }

  void Walk(uint32_t first) {
    std::vector<uint32_t> queue{first};
    std::vector<uint32_t> seen;
    while (!queue.empty() && seen.size() < kMaxIfds) {
      uint32_t ifd = queue.back();
      queue.pop_back();
      if (ifd < 8 || std::find(seen.begin(), seen.end(), ifd) != seen.end()) continue;
      seen.push_back(ifd);
      if (!Ifd(ifd, queue)) return;
    }
  }

  TiffFacts facts;

 private:
  bool Ifd(uint32_t ifd, std::vector<uint32_t>& queue) {
    const uint32_t count = U16(ifd);
    if (facts.bad || count == 0 || count > kMaxEntries) return Bad(), false;
    Reach(uint64_t{ifd} + 2 + count * 12ull + 4);
    uint64_t stripsAt = 0, countsAt = 0;
    uint32_t strips = 0, stripsType = 0, countsType = 0;
    uint64_t jpegAt = 0, jpegLength = 0;
    uint64_t timeAt = 0;
    bool original = false;
    for (uint32_t i = 0; i < count; ++i) {
      const uint64_t e = ifd + 2ull + i * 12ull;
      const uint16_t tag = U16(e), type = U16(e + 2);
      const uint32_t n = U32(e + 4);
      if (facts.bad) return false;
      const uint64_t bytes = uint64_t{TypeBytes(type)} * n;
      const uint64_t valueAt = bytes > 4 ? U32(e + 8) : e + 8;
      if (bytes > 4) Reach(valueAt + bytes);
      switch (tag) {
        case 0x0111: case 0x0144:  // strip / tile offsets
          stripsAt = valueAt; strips = n; stripsType = type;
          break;
        case 0x0117: case 0x0145:  // their byte counts
          countsAt = valueAt; countsType = type;
          break;
        case 0x0201: jpegAt = U32(e + 8); break;
        case 0x0202: jpegLength = U32(e + 8); break;
        case 0x014A: case 0x8769:  // SubIFDs, EXIF IFD
          for (uint32_t k = 0; k < std::min<uint32_t>(n, 16); ++k)
            queue.push_back(n == 1 ? U32(e + 8) : U32(valueAt + 4ull * k));
          break;
        case 0x9003:
          timeAt = valueAt; original = true;
          break;
        case 0x0132:
          if (!original) timeAt = valueAt;
          break;
        case 0x010F:  // Make
          if (bytes >= 5) {
            const uint8_t* m = s_.Get(base_ + valueAt, 5);
            if (m && std::memcmp(m, "NIKON", 5) == 0 && !facts.raw) facts.raw = u"nef";
          }
          break;
        case 0xC612: facts.raw = u"dng"; break;
        default: break;
      }
    }
    if (timeAt && (original || !facts.timeLocal)) {
      const uint8_t* t = s_.Get(base_ + timeAt, 19);
      if (t) {
        uint64_t ft = FileTimeFromText(t, 19);
        if (ft) facts.timeLocal = ft;
      }
    }
    if (strips && countsAt && strips <= kMaxOffsets && (stripsType == 3 || stripsType == 4) &&
        (countsType == 3 || countsType == 4)) {
      const uint32_t w1 = stripsType == 3 ? 2 : 4, w2 = countsType == 3 ? 2 : 4;
      for (uint32_t k = 0; k < strips && !facts.bad; ++k) {
        // A single value sits in the entry itself.
        uint64_t off = Value(stripsType, stripsAt + uint64_t{w1} * k);
        uint64_t len = Value(countsType, countsAt + uint64_t{w2} * k);
        Reach(off + len);
        if (s_.Stopped()) return false;
      }
    }
    if (jpegAt && jpegLength) Reach(jpegAt + jpegLength);
    const uint32_t next = U32(ifd + 2ull + count * 12ull);
    if (next) queue.push_back(next);
    return !facts.bad;
  }

  Stream& s_;
  uint64_t base_;
  uint64_t available_;
  bool big_;
};

}  // namespace

TiffFacts ReadTiff(Stream& s, uint64_t base, uint64_t available) {
  const uint8_t* h = s.Get(base, 8);
  if (!h || available < 8) return {};
  bool big;
  if (h[0] == 'I' && h[1] == 'I' && h[2] == 42 && h[3] == 0) big = false;
  else if (h[0] == 'M' && h[1] == 'M' && h[2] == 0 && h[3] == 42) big = true;
  else return {};
  const bool cr2 = !big && s.Get(base + 8, 3) && std::memcmp(s.Get(base + 8, 3), "CR\x02", 3) == 0;
  Walker w(s, base, available, big);
  w.Reach(8);
  w.Walk(w.U32(4));
  if (cr2) w.facts.raw = u"cr2";
  return w.facts;
}

bool ParseTiff(Stream& s, Find& find) {
  const uint8_t* h = s.Get(0, 8);
  if (!h) return false;
  s.Bound(kBound);
  TiffFacts t = ReadTiff(s, 0, s.Limit());
  // An IFD that is not there at all is no TIFF, just the four bytes.
  if (t.extent <= 8) return false;
  find.type = t.raw ? t.raw : u"tif";
  find.size = t.extent;
  find.damaged = t.bad || s.Broken();
  if (t.timeLocal) {
    find.modifiedUtc = t.timeLocal;
    find.timeIsLocal = true;
  }
  return true;
}

}  // namespace kestrel::carve
