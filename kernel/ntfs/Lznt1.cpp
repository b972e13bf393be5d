#include "kernel/ntfs/Lznt1.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace kestrel::ntfs {
namespace {

constexpr uint16_t kChunkCompressed = 0x8000;
constexpr uint16_t kChunkLengthMask = 0x0FFF;

// Decodes one compressed chunk's items [in, end) into at most `room` bytes
// at `out`; `produced` says how many it wrote. False on corrupt items.
bool DecodeChunk(const uint8_t* in, const uint8_t* end, uint8_t* out, size_t room,
                 size_t& produced) {
  size_t pos = 0;
  while (in < end) {
    unsigned flags = *in++;
    // A group of eight literals, the common case in data that barely
    // compresses: one copy.
    if (flags == 0 && end - in >= 8 && room - pos >= 8) {
      std::memcpy(out + pos, in, 8);
      in += 8;
      pos += 8;
      continue;
    }
    for (int item = 0; item < 8 && in < end; ++item, flags >>= 1) {
      if ((flags & 1) == 0) {
        if (pos >= room) return false;
        out[pos++] = *in++;
        continue;
      }
      if (end - in < 2) return false;
      const unsigned token = le16(in);
      in += 2;
      // With nothing output yet there is nothing to refer back to.
      if (pos == 0) return false;
      const unsigned width = static_cast<unsigned>(std::bit_width(pos - 1));
      const unsigned lengthBits = width > 4 ? 16 - width : 12;
      const size_t back = (token >> lengthBits) + 1;
      const size_t length = (token & ((1u << lengthBits) - 1)) + 3;
      if (back > pos || length > room - pos) return false;
      uint8_t* to = out + pos;
      const uint8_t* from = to - back;
      if (back >= 16 && room - pos >= length + 15) {
        // Whole words at a time: each source word lies wholly before its
        // destination, so it is already written. The last word may run up
        // to 15 bytes past the copy, still inside the chunk's output, where
        // later items or the zero fill overwrite it.
        for (size_t i = 0; i < length; i += 16) std::memcpy(to + i, from + i, 16);
      } else if (back >= 8 && room - pos >= length + 7) {
        for (size_t i = 0; i < length; i += 8) std::memcpy(to + i, from + i, 8);
      } else if (back >= length) {
        std::memcpy(to, from, length);
      } else if (back == 1) {
        std::memset(to, *from, length);
      } else {
        // Overlapping: the `back` bytes before `to` repeat. Everything from
        // `from` to what is written so far is that pattern from its start,
        // so each copy can take twice as much as the one before.
        for (size_t done = 0; done < length;) {
          const size_t n = std::min(done + back, length - done);
          std::memcpy(to + done, from, n);
          done += n;
        }
      }
      pos += length;
    }
  }
  produced = pos;
  return true;
}

}  // namespace

Lznt1Result Lznt1Decompress(ByteView input, uint8_t* out, size_t outSize) {
  Lznt1Result result;
  const uint8_t* in = input.data();
  const size_t inSize = input.size();
  size_t at = 0;   // input offset of the next chunk header
  size_t pos = 0;  // output written
  while (pos < outSize && inSize - at >= 2) {
    const uint16_t header = le16(in + at);
    if (header == 0) break;
    const size_t bytes = static_cast<size_t>(header & kChunkLengthMask) + 1;
    const size_t room = std::min(kLznt1ChunkBytes, outSize - pos);
    const uint8_t* body = in + at + 2;
    size_t produced = 0;
    bool good = bytes <= inSize - at - 2;
    if (good && (header & kChunkCompressed)) {
      good = DecodeChunk(body, body + bytes, out + pos, room, produced);
    } else if (good) {
      good = bytes <= room;
      if (good) std::memcpy(out + pos, body, bytes);
      produced = bytes;
    }
    if (!good) {
      result.ok = false;
      result.badChunk = at;
      return result;
    }
    std::memset(out + pos + produced, 0, room - produced);
    pos += room;
    at += 2 + bytes;
  }
  std::memset(out + pos, 0, outSize - pos);
  return result;
}

}  // namespace kestrel::ntfs
