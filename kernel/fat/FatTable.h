// The file allocation table: entry positions, FAT12 packing and the meaning
// of entry values.
//
// Entry of cluster c: FAT16 the u16 at 2c, FAT32 the u32 at 4c with the top
// 4 bits cleared, FAT12 the u16 at c + c/2, shifted right by 4 for an odd c
// and masked with 0xFFF for an even one (an entry may straddle two sectors).
#pragma once

#include <cstdint>

namespace kestrel::fat {

// Classes of FAT values; the numbers are the codes the engine uses.
enum FatValueClass : uint8_t {
  kFatInUse = 1,       // a next-cluster number
  kFatFree = 2,
  kFatReserved = 4,    // reserved or bad
  kFatEndOfChain = 8,
};

uint8_t ClassifyFatValue(uint8_t fatType, uint32_t value);
bool IsEndOfChainValue(uint8_t fatType, uint32_t value);

// Byte offset of a cluster's entry inside one FAT copy.
uint64_t FatEntryOffset(uint8_t fatType, uint32_t cluster);
// Bytes the entry spans (2 for FAT12/16, 4 for FAT32).
uint32_t FatEntryWidth(uint8_t fatType);
// Decodes the entry of `cluster` from its bytes at FatEntryOffset.
uint32_t DecodeFatEntry(uint8_t fatType, uint32_t cluster, const uint8_t* bytes);

}  // namespace kestrel::fat
