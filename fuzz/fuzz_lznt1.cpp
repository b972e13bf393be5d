// LZNT1 decompression of one compression unit: the input's first two bytes
// give the output size less one (up to 64 KiB, so the last chunk may not
// fit), the rest is the unit's compressed form. The output sits between
// guard bytes: the target traps when a guard changed, or when a second
// decode of the same input gives other bytes or another result.
#include <cstdint>
#include <cstring>
#include <vector>

#include "kernel/Bytes.h"
#include "kernel/ntfs/Lznt1.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrel::ntfs;
  if (size < 2) return 0;
  const size_t outSize = size_t{kestrel::le16(data)} + 1;
  const kestrel::ByteView input(data + 2, size - 2);
  constexpr size_t kGuard = 64;
  constexpr uint8_t kGuardByte = 0xA5;

  std::vector<uint8_t> guarded(kGuard + outSize + kGuard, kGuardByte);
  const Lznt1Result first = Lznt1Decompress(input, guarded.data() + kGuard, outSize);
  for (size_t i = 0; i < kGuard; ++i)
    if (guarded[i] != kGuardByte || guarded[kGuard + outSize + i] != kGuardByte) __builtin_trap();
  if (!first.ok && first.badChunk >= input.size()) __builtin_trap();

  // An exact-size buffer, so the sanitizers see any write past it.
  std::vector<uint8_t> exact(outSize, 0x5A);
  const Lznt1Result second = Lznt1Decompress(input, exact.data(), exact.size());
  if (second.ok != first.ok || second.badChunk != first.badChunk) __builtin_trap();
  if (first.ok && std::memcmp(exact.data(), guarded.data() + kGuard, outSize) != 0) __builtin_trap();
  return 0;
}
