// MP3 with an ID3v2 tag: the tag's (syncsafe) size, then MPEG audio frames
// by their header-given lengths while they follow one another, then an
// optional ID3v1 tag. A tag with no frames after it is damaged.
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
  for (;;) {
    const uint8_t* f = s.Get(pos, 4);
    if (!f) break;
    const uint32_t length = FrameLength(f);
    if (length < 24 || length > s.Limit() - pos) break;
    pos += length;
    ++frames;
    if ((frames & 0xFFF) == 0 && s.Stopped()) break;
  }
  const uint8_t* v1 = s.Get(pos, 3);
  if (v1 && v1[0] == 'T' && v1[1] == 'A' && v1[2] == 'G' && s.Get(pos, 128)) pos += 128;
  find.size = pos < s.Limit() ? pos : s.Limit();
  find.damaged = frames < 2 || s.Broken();
  return true;
}

}  // namespace kestrel::carve
