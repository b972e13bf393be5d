// BMP: the file header gives the size; the info header's size, the pixel
// offset and the dimensions must agree with it.
#include "kernel/carve/Formats.h"

namespace kestrel::carve {

bool ParseBmp(Stream& s, Find& find) {
  ByteView h = s.View(0, 30);
  if (h.size() != 30 || h.u8(0) != 'B' || h.u8(1) != 'M') return false;
  const uint64_t size = h.u32(2);
  const uint32_t pixels = h.u32(10);
  const uint32_t info = h.u32(14);
  if (info != 12 && info != 40 && info != 52 && info != 56 && info != 64 && info != 108 &&
      info != 124)
    return false;
  if (h.u32(6) != 0 || pixels < 14 + info || size < pixels || size > (1ull << 31)) return false;
  uint64_t width, height;
  uint16_t planes, bits;
  if (info == 12) {
    width = h.u16(18);
    height = h.u16(20);
    planes = h.u16(22);
    bits = h.u16(24);
  } else {
    ByteView i = s.View(14, 40);
    if (i.size() != 40) return false;
    width = i.u32(4);
    const int32_t hh = static_cast<int32_t>(i.u32(8));
    height = hh < 0 ? -static_cast<int64_t>(hh) : hh;
    planes = i.u16(12);
    bits = i.u16(14);
  }
  if (planes != 1 || width == 0 || height == 0 || width > 65535 || height > 65535) return false;
  if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
    return false;
  find.type = u"bmp";
  // Uncompressed rows are padded to four bytes; compressed ones are shorter.
  uint32_t compression = info == 12 ? 0 : s.View(30, 4).u32(0);
  const uint64_t row = ((width * bits + 31) / 32) * 4;
  bool tooShort = (compression == 0 || compression == 3) && size - pixels < row * height;
  if (size > s.Limit()) {
    find.size = s.Limit();
    find.damaged = true;
  } else {
    find.size = size;
    find.damaged = tooShort;
  }
  return true;
}

}  // namespace kestrel::carve
