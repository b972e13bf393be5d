#include "kernel/fat/FatTable.h"

#include "kernel/Bytes.h"
#include "kernel/fat/FatBootSector.h"

namespace kestrel::fat {

uint8_t ClassifyFatValue(uint8_t fatType, uint32_t value) {
  if (value == 0) return kFatFree;
  uint32_t endFrom = 0, badFrom = 0;
  switch (fatType) {
    case kFat12: endFrom = 0xFF8; badFrom = 0xFF1; break;
    case kFat16: endFrom = 0xFFF8; badFrom = 0xFFF1; break;
    case kFat32: endFrom = 0x0FFFFFF8; badFrom = 0x0FFFFFF1; break;
    default: return kFatInUse;
  }
  if (value >= endFrom) return kFatEndOfChain;
  if (value >= badFrom) return kFatReserved;
  return kFatInUse;
}

bool IsEndOfChainValue(uint8_t fatType, uint32_t value) {
  return ClassifyFatValue(fatType, value) == kFatEndOfChain;
}

uint64_t FatEntryOffset(uint8_t fatType, uint32_t cluster) {
  switch (fatType) {
    case kFat12: return uint64_t{cluster} + cluster / 2;
    case kFat16: return uint64_t{cluster} * 2;
    default: return uint64_t{cluster} * 4;
  }
}

uint32_t FatEntryWidth(uint8_t fatType) { return fatType == kFat32 ? 4 : 2; }

uint32_t DecodeFatEntry(uint8_t fatType, uint32_t cluster, const uint8_t* bytes) {
  switch (fatType) {
    case kFat12: {
      uint32_t v = le16(bytes);
      return (cluster & 1) ? (v >> 4) : (v & 0xFFF);
    }
    case kFat16: return le16(bytes);
    default: return le32(bytes) & 0x0FFFFFFF;
  }
}

}  // namespace kestrel::fat
