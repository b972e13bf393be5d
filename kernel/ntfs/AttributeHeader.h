// Attribute header inside a file record (offsets from the attribute start):
//   0x00  u32  type; 0xFFFFFFFF ends the sequence
//   0x04  u32  total length of the attribute
//   0x08  u8   non-resident flag
//   0x09  u8   name length in UTF-16 units
//   0x0A  u16  offset of the name
//   0x0C  u16  flags: 0x00FF compression method (1: LZNT1), 0x4000
//              encrypted, 0x8000 sparse
//   resident:      0x10 u32 value length, 0x14 u16 value offset
//   non-resident:  0x10 u64 first VCN, 0x18 u64 last VCN, 0x20 u16 run-list
//                  offset, 0x22 u8 compression unit (log2 of its clusters;
//                  0 when not compressed), 0x28 u64 allocated size, 0x30 u64
//                  data size, 0x38 u64 initialized size
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "kernel/Bytes.h"

namespace kestrel::ntfs {

constexpr uint32_t kAttrEnd = 0xFFFFFFFF;
constexpr uint32_t kAttrStdInfo = 0x10;
constexpr uint32_t kAttrAttrList = 0x20;
constexpr uint32_t kAttrFileName = 0x30;
constexpr uint32_t kAttrVolName = 0x60;
constexpr uint32_t kAttrVolInfo = 0x70;
constexpr uint32_t kAttrData = 0x80;
constexpr uint32_t kAttrIndexRoot = 0x90;
constexpr uint32_t kAttrIndexAlloc = 0xA0;
constexpr uint32_t kAttrBitmap = 0xB0;

constexpr size_t kAttrType = 0x00;
constexpr size_t kAttrLength = 0x04;
constexpr size_t kAttrNonResident = 0x08;
constexpr size_t kAttrNameLength = 0x09;
constexpr size_t kAttrNameOffset = 0x0A;
constexpr size_t kAttrValueLength = 0x10;
constexpr size_t kAttrValueOffset = 0x14;
constexpr size_t kAttrFlags = 0x0C;  // u16: compressed, encrypted, sparse
constexpr uint16_t kAttrFlagCompressed = 0x0001;  // LZNT1, the one method there is
constexpr uint16_t kAttrFlagCompressionMask = 0x00FF;
constexpr uint16_t kAttrFlagEncrypted = 0x4000;
constexpr uint16_t kAttrFlagSparse = 0x8000;
constexpr size_t kAttrFirstVcn = 0x10;
constexpr size_t kAttrLastVcn = 0x18;
constexpr size_t kAttrRunListOffset = 0x20;
constexpr size_t kAttrAllocatedSize = 0x28;
constexpr size_t kAttrDataSize = 0x30;
constexpr size_t kAttrCompressionUnit = 0x22;
constexpr size_t kAttrInitializedSize = 0x38;

// The list index of an attribute type (0x10 -> 0 ... 0x100 -> 15); 16 or
// more for types the record never builds.
inline uint32_t TypeIndex(uint32_t type) { return type / 16 - 1; }

// The attribute's name; empty when unnamed or when it does not fit.
inline std::u16string AttributeName(ByteView attr) {
  size_t len = attr.u8(kAttrNameLength);
  size_t off = attr.u16(kAttrNameOffset);
  std::u16string name;
  if (len == 0 || !attr.Has(off, 2 * len)) return name;
  for (size_t i = 0; i < len; ++i) name += static_cast<char16_t>(le16(attr.data() + off + 2 * i));
  return name;
}

}  // namespace kestrel::ntfs
