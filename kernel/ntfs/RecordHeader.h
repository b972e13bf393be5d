// MFT file record header and its update-sequence fix-ups. Fields used:
//   0x00  u32  signature "FILE" (0x454C4946)
//   0x04  u16  offset of the update sequence array
//   0x06  u16  entries in that array: the sequence number plus one per block
//   0x14  u16  offset of the first attribute
//   0x16  u16  flags: 0x0001 in use, 0x0002 directory
// The last u16 of every fix-up block holds the sequence number on disk; the
// array keeps the real values.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernel/Bytes.h"

namespace kestrel::ntfs {

constexpr uint32_t kFileSignature = 0x454C4946;
constexpr size_t kRecUsaOffset = 0x04;
constexpr size_t kRecUsaCount = 0x06;
constexpr size_t kRecFirstAttribute = 0x14;
constexpr size_t kRecFlags = 0x16;
constexpr uint16_t kRecInUse = 0x0001;
constexpr uint16_t kRecDirectory = 0x0002;

inline bool HasFileSignature(ByteView record) { return record.u32(0) == kFileSignature && record.ok(); }

enum class FixupResult {
  Ok,
  BadLayout,  // the array does not fit or does not divide the record
  Mismatch,   // a block's last u16 is not the sequence number: torn record
};

// The fix-up block size of a record: the record size divided by the number
// of blocks its array covers. Windows and ntfs-3g use 512-byte blocks even
// on 4096-byte-sector volumes, and some writers use the sector size, so
// either is accepted; anything else is 0 (bad layout).
size_t FixupBlockBytes(ByteView record, uint16_t sectorBytes);

// Puts the saved values back at the end of every block. With `verify`, the
// first block whose last u16 differs from the sequence number stops the
// repair with Mismatch (the record must not be used).
FixupResult ApplyFixups(uint8_t* record, size_t size, uint16_t sectorBytes, bool verify);

}  // namespace kestrel::ntfs
