#include "kernel/ntfs/RecordHeader.h"

namespace kestrel::ntfs {

size_t FixupBlockBytes(ByteView record, uint16_t sectorBytes) {
  uint16_t count = record.u16(kRecUsaCount);
  if (!record.ok() || count < 2) return 0;
  size_t blocks = count - 1u;
  if (record.size() % blocks != 0) return 0;
  size_t block = record.size() / blocks;
  if (block != 512 && block != sectorBytes) return 0;
  return block;
}

FixupResult ApplyFixups(uint8_t* record, size_t size, uint16_t sectorBytes, bool verify) {
  ByteView view(record, size);
  size_t block = FixupBlockBytes(view, sectorBytes);
  if (block < 2) return FixupResult::BadLayout;
  size_t blocks = size / block;
  size_t usa = view.u16(kRecUsaOffset);
  // The array: the sequence number, then one saved u16 per block.
  if (usa % 2 != 0 || !InBounds(usa, 2 * (blocks + 1), size)) return FixupResult::BadLayout;
  uint16_t sequence = le16(record + usa);
  for (size_t i = 0; i < blocks; ++i) {
    uint8_t* tail = record + (i + 1) * block - 2;
    if (verify && le16(tail) != sequence) return FixupResult::Mismatch;
    tail[0] = record[usa + 2 * (i + 1)];
    tail[1] = record[usa + 2 * (i + 1) + 1];
  }
  return FixupResult::Ok;
}

}  // namespace kestrel::ntfs
