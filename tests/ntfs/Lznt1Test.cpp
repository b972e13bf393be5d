// The LZNT1 decompressor on hand-built chunks: the parts ntfs-3g's output
// on the compressed images may not reach (displacement widths switching,
// short and stored chunks) and the corrupt forms it never writes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kernel/ntfs/Lznt1.h"

namespace kestrel::ntfs {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Chunk(bool compressed, const Bytes& body) {
  const uint16_t header = static_cast<uint16_t>((compressed ? 0xB000 : 0x3000) | (body.size() - 1));
  Bytes out = {static_cast<uint8_t>(header), static_cast<uint8_t>(header >> 8)};
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

constexpr uint8_t kGuard = 0xEE;
constexpr size_t kGuardBytes = 64;

struct Decoded {
  Lznt1Result result;
  Bytes out;  // outSize bytes
};

// Decodes into a buffer followed by guard bytes, failing the test when any
// of them changed.
Decoded Decode(const Bytes& input, size_t outSize) {
  Bytes buffer(outSize + kGuardBytes, kGuard);
  Decoded d;
  d.result = Lznt1Decompress(ByteView(input.data(), input.size()), buffer.data(), outSize);
  for (size_t i = outSize; i < buffer.size(); ++i)
    EXPECT_EQ(buffer[i], kGuard) << "written past the output at " << i;
  d.out.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(outSize));
  return d;
}

TEST(Lznt1, ChunksFillTheirFourKilobytesAndTheUnitEndsInZeros) {
  // "abc", then 9 bytes from 3 back (overlapping): 4 displacement bits.
  const Bytes abc = Chunk(true, {0x08, 'a', 'b', 'c', 0x06, 0x20});
  // 17 literals, then 5 bytes from 17 back: past 16 bytes of output the
  // displacement takes 5 bits and the length 11.
  Bytes seventeen = {0x00};
  for (char c = 'A'; c <= 'H'; ++c) seventeen.push_back(static_cast<uint8_t>(c));
  seventeen.push_back(0x00);
  for (char c = 'I'; c <= 'P'; ++c) seventeen.push_back(static_cast<uint8_t>(c));
  seventeen.insert(seventeen.end(), {0x02, 'Q', 0x02, 0x80});
  Bytes stored(4096);
  for (size_t i = 0; i < stored.size(); ++i) stored[i] = static_cast<uint8_t>(i * 7 + 1);
  const Bytes unit = Join({abc, Chunk(true, seventeen), Chunk(false, stored), {0, 0}, Text("slack")});

  Decoded d = Decode(unit, 5 * 4096);
  ASSERT_TRUE(d.result.ok);
  Bytes expected(5 * 4096, 0);
  const Bytes first = Text("abcabcabcabc");
  std::copy(first.begin(), first.end(), expected.begin());
  const Bytes second = Text("ABCDEFGHIJKLMNOPQABCDE");
  std::copy(second.begin(), second.end(), expected.begin() + 4096);
  std::copy(stored.begin(), stored.end(), expected.begin() + 2 * 4096);
  EXPECT_EQ(d.out, expected) << "after the zero header nothing more is read";

  // No input at all: a unit of zeros. A full output ends the reading.
  EXPECT_TRUE(Decode({}, 4096).result.ok);
  EXPECT_EQ(Decode({}, 4096).out, Bytes(4096, 0));
  Decoded cut = Decode(Join({abc, abc}), 4096);
  EXPECT_TRUE(cut.result.ok);
  EXPECT_EQ(Bytes(cut.out.begin(), cut.out.begin() + 12), first);
}

TEST(Lznt1, CorruptChunksFailWithoutWritingPastTheOutput) {
  const Bytes good = Chunk(true, {0x08, 'a', 'b', 'c', 0x06, 0x20});
  struct Case {
    const char* what;
    Bytes input;
    size_t outSize;
    size_t badChunk;
  };
  Bytes claimsTooMuch = Chunk(true, Bytes(100, 0));
  claimsTooMuch.resize(40);
  Bytes storedTwice = Join({Chunk(false, Bytes(4096, 1)), Chunk(false, Bytes(4096, 2))});
  const Case cases[] = {
      {"a header claiming more than the unit holds", Join({good, claimsTooMuch}), 8192, good.size()},
      {"a reference with no output before it", Chunk(true, {0x01, 0x00, 0x00}), 4096, 0},
      {"a reference two back after one byte", Chunk(true, {0x02, 'a', 0x00, 0x10}), 4096, 0},
      // The first chunk's output is not the second's to refer back to.
      {"a reference into the chunk before", Join({good, Chunk(true, {0x01, 0x00, 0x00})}), 8192,
       good.size()},
      {"4098 bytes from one chunk", Chunk(true, {0x02, 'x', 0xFF, 0x0F}), 8192, 0},
      {"a literal after 4096 bytes", Chunk(true, {0x02, 'x', 0xFC, 0x0F, 'y'}), 8192, 0},
      {"a truncated reference", Chunk(true, {0x02, 'x', 0x01}), 4096, 0},
      {"a stored chunk past the output", storedTwice, 5000, 4098},
  };
  for (const Case& c : cases) {
    Decoded d = Decode(c.input, c.outSize);
    EXPECT_FALSE(d.result.ok) << c.what;
    EXPECT_EQ(d.result.badChunk, c.badChunk) << c.what;
  }
  // A reference of exactly 4095 bytes after one literal fills the chunk.
  EXPECT_TRUE(Decode(Chunk(true, {0x02, 'x', 0xFC, 0x0F}), 4096).result.ok);
  EXPECT_EQ(Decode(Chunk(true, {0x02, 'x', 0xFC, 0x0F}), 4096).out, Bytes(4096, 'x'));
}

}  // namespace
}  // namespace kestrel::ntfs
