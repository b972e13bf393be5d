// LZNT1, the compression NTFS applies to compressed streams, one
// compression unit at a time.
//
// A unit's compressed form is a run of chunks, each standing for 4096
// bytes of output:
//   0x00  u16  chunk header: bits 0-11 the chunk's bytes after the header,
//              minus 1; bits 12-14 a signature (3); bit 15 set when the
//              chunk is compressed, clear when its bytes are stored as they are
//   0x02       the chunk's bytes
// A compressed chunk is groups of one flag byte and up to eight items; a
// clear flag bit (lowest first) is one literal byte, a set one a u16
// back-reference. The reference splits into a displacement in its high
// bits and a length in its low bits; the displacement gets
// max(4, bit width of (bytes output in this chunk - 1)) bits, the length
// the other ones. It copies length + 3 bytes from displacement + 1 bytes
// back, within the chunk's own output. A chunk that ends short of 4096
// bytes leaves zeros up to them; a zero header or the end of the input
// ends the unit, and the rest of it is zeros.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernel/Bytes.h"

namespace kestrel::ntfs {

constexpr size_t kLznt1ChunkBytes = 4096;

struct Lznt1Result {
  bool ok = true;
  // Corrupt input: offset of the header of the chunk that broke the rules.
  size_t badChunk = 0;
};

// Decompresses one unit from `input` into all `outSize` bytes of `out`.
// Corrupt when a chunk header claims more bytes than the input holds, a
// back-reference points before the start of its chunk's output, or a chunk
// would output more than 4096 bytes or run past `outSize`. Never writes
// outside [out, out + outSize); after a failure the contents of `out` are
// unspecified (the caller decides what stands in for the unit).
Lznt1Result Lznt1Decompress(ByteView input, uint8_t* out, size_t outSize);

}  // namespace kestrel::ntfs
