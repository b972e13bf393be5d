// Partition tables of whole disks: MBR with its extended (EBR) chain, and
// GPT (protective MBR type 0xEE; the primary header at LBA 1, the backup at
// the disk's last LBA; both with their CRC32s), on 512- and 4096-byte
// logical sectors.
//
// MBR entry (16 bytes at 0x1BE + 16 i): 0x04 u8 type, 0x08 u32 first LBA,
// 0x0C u32 sectors. GPT header: 0x00 "EFI PART", 0x0C u32 header size,
// 0x10 u32 header CRC32, 0x18 u64 this LBA, 0x20 u64 backup LBA, 0x48 u64
// entries LBA, 0x50 u32 entry count, 0x54 u32 entry size, 0x58 u32 entries
// CRC32. GPT entry: 0x00 type GUID, 0x10 unique GUID, 0x20 u64 first LBA,
// 0x28 u64 last LBA (inclusive), 0x38 name (36 UTF-16 units).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "kernel/Bytes.h"

namespace kestrel {

class SectorReader;

enum class TableKind { None, Mbr, Gpt };

struct PartitionEntry {
  int number = 0;             // MBR: the slot (1-4), logical from 5; GPT: the entry's slot
  uint64_t firstByte = 0;
  uint64_t bytes = 0;
  uint8_t mbrType = 0;        // MBR type byte; 0 on GPT
  std::array<uint8_t, 16> gptType{};
  std::u16string gptName;
  bool logical = false;       // inside the extended chain
  bool beyondDisk = false;    // reaches past the end of the disk (cut to it)
};

struct PartitionTable {
  TableKind kind = TableKind::None;
  uint32_t sectorBytes = 512;
  std::vector<PartitionEntry> entries;
  std::u16string note;        // what was wrong and what was used instead, if anything
};

// Reads the table of a disk of `diskBytes` bytes (0 when unknown).
PartitionTable ReadPartitionTable(SectorReader& disk, uint64_t diskBytes);

// A readable name for an MBR type byte or a GPT type GUID ("NTFS/exFAT",
// "FAT32 (LBA)", "Microsoft basic data", "EFI system"...); empty if unknown.
std::u16string PartitionTypeName(const PartitionEntry& entry);

// The disk size an MBR implies: the end of its furthest primary entry (in
// 512-byte sectors), for when the system gives no geometry. 0 when no entry
// is plausible.
uint64_t SectorsCoveredByPartitionTable(ByteView sector);

// CRC-32 (IEEE 802.3), as GPT uses it.
uint32_t Crc32(const uint8_t* data, size_t length);

}  // namespace kestrel
