// exFAT directory entries: 32 bytes each, the first byte the entry type
// (bit 7 in use, bit 6 secondary, bits 0-4 the type code). A file or folder
// is an entry set: a file entry, its stream extension, then its name
// entries, guarded by a 16-bit checksum. Deleting clears bit 7 of each
// entry of the set and leaves the rest in place.
//
// File entry (0x85; 0x05 deleted):
//   0x01 u8   secondary count (the entries after this one, 2..18)
//   0x02 u16  set checksum (over the whole set, these two bytes left out)
//   0x04 u16  attributes (0x10 folder)
//   0x08 u32  created, 0x0C u32 modified, 0x10 u32 accessed (DOS date and
//             time words: 2-second units, local time)
//   0x14 u8   created 10 ms units (0..199), 0x15 u8 modified 10 ms units
//   0x16 u8   created UTC offset, 0x17 modified, 0x18 accessed (bit 7:
//             valid; bits 0-6: signed, in 15-minute units)
// Stream extension (0xC0; 0x40 deleted):
//   0x01 u8   flags (bit 0 allocation possible, bit 1 no FAT chain)
//   0x03 u8   name length (UTF-16 units, 1..255)
//   0x04 u16  name hash (see ExfatUpcase.h)
//   0x08 u64  valid data length (bytes past it read as zeros)
//   0x14 u32  first cluster
//   0x18 u64  data length
// File name (0xC1; 0x41 deleted):
//   0x02 15 UTF-16 units of the name
// Entries of the root folder read by the volume: allocation bitmap (0x81:
// 0x01 u8 flags, bit 0 which bitmap; 0x14 u32 first cluster; 0x18 u64
// length), up-case table (0x82, see ExfatUpcase.h) and volume label (0x83:
// 0x01 u8 length; 0x02 11 UTF-16 units).
#pragma once

#include <cstdint>
#include <string>

#include "kernel/Bytes.h"

namespace kestrel::exfat {

constexpr size_t kEntryBytes = 32;
constexpr uint8_t kInUse = 0x80;
constexpr uint8_t kEndOfDirectory = 0x00;
constexpr uint8_t kTypeBitmap = 0x81;
constexpr uint8_t kTypeUpcase = 0x82;
constexpr uint8_t kTypeLabel = 0x83;
constexpr uint8_t kTypeFile = 0x85;
constexpr uint8_t kTypeStream = 0xC0;
constexpr uint8_t kTypeName = 0xC1;
constexpr uint16_t kAttrFolder = 0x10;
constexpr uint8_t kStreamNoFatChain = 0x02;

// A time as stored: the date and time word, 10 ms units, UTC offset.
struct ExfatTime {
  uint32_t stamp = 0;
  uint8_t tenMs = 0;
  uint8_t utcOffset = 0;
};

// UTC FILETIME of a stored time; 0 when it is no valid time. Without a
// valid offset the time is local to whoever wrote it and is taken as local
// here.
uint64_t TimeToUtc(const ExfatTime& time);
// FILETIME of the stored date and time as written (no offset applied);
// 0 when invalid.
uint64_t TimeAsWritten(const ExfatTime& time);

struct EntrySet {
  bool deleted = false;           // the file entry's in-use bit is clear
  uint8_t secondaryCount = 0;
  uint16_t attributes = 0;
  ExfatTime created, modified, accessed;
  uint8_t streamFlags = 0;
  uint16_t nameHash = 0;
  uint32_t firstCluster = 0;
  uint64_t validLength = 0;
  uint64_t dataLength = 0;
  std::u16string name;            // as stored, not yet made safe

  bool IsFolder() const { return (attributes & kAttrFolder) != 0; }
  bool NoFatChain() const { return (streamFlags & kStreamNoFatChain) != 0; }
  size_t Bytes() const { return (size_t{secondaryCount} + 1) * kEntryBytes; }
};

enum class SetStatus {
  Ok,
  NotASet,      // no file entry here
  Truncated,    // the set runs past the bytes given
  BadChecksum,  // the checksum does not match: a set partly overwritten
  Malformed,    // counts, types or lengths that cannot be
};

// The set checksum over `bytes` (the whole set), each entry's in-use bit
// counted as set, so that a deleted set checks as it did when live.
uint16_t SetChecksum(ByteView bytes);

// Reads the entry set that starts at the front of `entries`.
SetStatus ReadEntrySet(ByteView entries, EntrySet& out);

}  // namespace kestrel::exfat
