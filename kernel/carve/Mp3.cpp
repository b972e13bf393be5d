// MP3 with an ID3v2 tag: the tag's (syncsafe) size, then MPEG audio frames
// by their header-given lengths while they follow one another, then an
// optional ID3v1 tag. A tag with no frames after it is damaged, and so is a
// stream that ends before the frame and byte counts its information frame
// (Xing/Info from LAME and FFmpeg, VBRI from Fraunhofer's encoder) gives:
// a cut in the middle otherwise looks like an earlier end.
#include <cstring>

#include "kernel/carve/Formats.h"

namespace kestrel::carve {

namespace {

// The length of the MPEG audio frame whose header is `h`; 0 when it is none.
uint32_t FrameLength(const uint8_t* h) {
  if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return 0;
  const int version = (h[1] >> 3) & 3;  // 0: 2.5, 2: 2, 3: 1
  const int layer = (h[1] >> 1) & 3;    // 1: III, 2: II, 3: I
  const int bitrateIndex = h[2] >> 4;
  const int rateIndex = (h[2] >> 2) & 3;
  const int padding = (h[2] >> 1) & 1;
  if (version == 1 || layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
    return 0;
  static const int kBitrates[2][3][15] = {
      {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
       {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
       {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
      {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
  static const int kRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000},
                                   {44100, 48000, 32000}};
  const int v1 = version == 3 ? 0 : 1;
  const int l = 3 - layer;  // 0: I, 1: II, 2: III
  const int bitrate = kBitrates[v1][l][bitrateIndex] * 1000;
  const int rate = kRates[version][rateIndex];
  if (l == 0) return static_cast<uint32_t>((12 * bitrate / rate + padding) * 4);
  if (l == 2 && v1) return static_cast<uint32_t>(72 * bitrate / rate + padding);
  return static_cast<uint32_t>(144 * bitrate / rate + padding);
}

uint32_t Be32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// What the information frame at the stream's start says: 0 where it says
// nothing. Writers differ on whether the counts include that frame itself
// and the ID3v2 tag, so they are taken as lower bounds of what a whole
// file holds.
struct StreamCounts {
  uint64_t frames = 0;
  uint64_t bytes = 0;
};

StreamCounts ReadInfoFrame(Stream& s, uint64_t pos, uint32_t length) {
  StreamCounts c;
  const uint8_t* f = length >= 64 ? s.Get(pos, 64) : nullptr;
  if (!f) return c;
  // "Xing"/"Info" follow the header, its CRC if any, and the side information.
  const bool mpeg1 = ((f[1] >> 3) & 3) == 3;
  const bool mono = (f[3] >> 6) == 3;
  const size_t side = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
  const size_t x = 4 + ((f[1] & 1) ? 0 : 2) + side;
  if (x + 16 <= 64 && (std::memcmp(f + x, "Xing", 4) == 0 || std::memcmp(f + x, "Info", 4) == 0)) {
    const uint32_t flags = Be32(f + x + 4);
    size_t at = x + 8;
    if (flags & 1) {
      c.frames = Be32(f + at);
      at += 4;
    }
    if ((flags & 2) && at + 4 <= 64) c.bytes = Be32(f + at);
    return c;
  }
  // VBRI: at a fixed place after the header; version, delay, quality, bytes, frames.
  if (std::memcmp(f + 36, "VBRI", 4) == 0) {
    c.bytes = Be32(f + 46);
    c.frames = Be32(f + 50);
  }
  return c;
}

}  // namespace

bool ParseMp3(Stream& s, Find& find) {
  const uint8_t* h = s.Get(0, 10);
  if (!h || h[0] != 'I' || h[1] != 'D' || h[2] != '3' || h[3] < 2 || h[3] > 4 || h[4] == 0xFF)
    return false;
  if ((h[6] | h[7] | h[8] | h[9]) & 0x80) return false;  // sizes are syncsafe
  const uint64_t tag = (uint64_t{h[6]} << 21 | uint64_t{h[7]} << 14 | uint64_t{h[8]} << 7 | h[9]) +
                       10 + ((h[5] & 0x10) ? 10 : 0);
  find.type = u"mp3";
  uint64_t pos = tag;
  // Some writers pad past the tag's size with zeros.
  for (int k = 0; k < 4096; ++k) {
    const uint8_t* z = s.Get(pos, 1);
    if (!z || *z != 0) break;
    ++pos;
  }
  uint64_t frames = 0;
  StreamCounts counts;
  for (;;) {
    const uint8_t* f = s.Get(pos, 4);
    if (!f) break;
    const uint32_t length = FrameLength(f);
    if (length < 24 || length > s.Limit() - pos) break;
    if (frames == 0) counts = ReadInfoFrame(s, pos, length);
    pos += length;
    ++frames;
    if ((frames & 0xFFF) == 0 && s.Stopped()) break;
  }
  const uint8_t* v1 = s.Get(pos, 3);
  if (v1 && v1[0] == 'T' && v1[1] == 'A' && v1[2] == 'G' && s.Get(pos, 128)) pos += 128;
  find.size = pos < s.Limit() ? pos : s.Limit();
  find.damaged = frames < 2 || frames < counts.frames || pos < counts.bytes || s.Broken();
  return true;
}

}  // namespace kestrel::carve
