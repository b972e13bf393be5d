// The 32-byte FAT directory entry and the long-name entry that shares its
// slot.
//
// Short entry:
//   0x00 8 bytes  name (first byte 0x00 ends the directory, 0xE5 = deleted)
//   0x08 3 bytes  extension
//   0x0B u8       attributes (0x0F long-name entry, bit 0x10 directory)
//   0x0C u8       case flags (0x08 name, 0x10 extension shown in lower case)
//   0x14 u16      high 16 bits of the first cluster
//   0x16 u16      modification time (DOS)
//   0x18 u16      modification date (DOS)
//   0x1A u16      low 16 bits of the first cluster
//   0x1C u32      file size in bytes
// Long-name entry (attributes 0x0F):
//   0x00 u8       sequence byte (0x40 marks the entry holding the name's end;
//                 a deleted one reads 0xE5, which has that bit too)
//   0x01 5 x u16  characters 1-5
//   0x0D u8       checksum of the short name
//   0x0E 6 x u16  characters 6-11
//   0x1A u16      0
//   0x1C 2 x u16  characters 12-13
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "kernel/Bytes.h"

namespace kestrel::fat {

constexpr uint32_t kDirEntryBytes = 32;
constexpr uint8_t kEndOfDirectory = 0x00;
constexpr uint8_t kDeletedMark = 0xE5;
constexpr uint8_t kAttrLongName = 0x0F;
constexpr uint8_t kAttrDirectory = 0x10;
constexpr uint32_t kLongNameChars = 13;
constexpr uint8_t kLowerCaseBase = 0x08;
constexpr uint8_t kLowerCaseExtension = 0x10;

struct FatDirEntry {
  std::array<uint8_t, kDirEntryBytes> bytes{};

  ByteView View() const { return ByteView(bytes.data(), bytes.size()); }
  uint8_t First() const { return bytes[0]; }
  uint8_t Attributes() const { return bytes[0x0B]; }
  bool IsDeleted() const { return First() == kDeletedMark; }
  bool IsLongName() const { return Attributes() == kAttrLongName; }
  bool IsFolder() const { return (Attributes() & kAttrDirectory) != 0; }
  uint32_t FirstCluster() const { return (uint32_t{View().u16(0x14)} << 16) | View().u16(0x1A); }
  uint16_t LowClusterWord() const { return View().u16(0x1A); }
  uint16_t Time() const { return View().u16(0x16); }
  uint16_t Date() const { return View().u16(0x18); }
  uint32_t Size() const { return View().u32(0x1C); }
  uint8_t LongNameChecksum() const { return bytes[0x0D]; }
  // The 13 UTF-16 characters of a long-name entry, in order.
  void LongNameChars(char16_t out[kLongNameChars]) const;
  // True when the 11 raw short-name bytes equal `eleven`.
  bool ShortNameIs(const char* eleven) const;
};

// Files are taken only with exactly one of these attribute values.
bool IsListableFileAttribute(uint8_t attributes);

// The short name as text: blanks dropped wherever they stand, a first 0xE5
// shown as "_", "." before a non-empty extension. Bytes are decoded as
// Windows-1252 (ASCII below 0x80). Empty when the text and its terminator
// would not fit `capacity` units.
std::u16string ShortNameToText(const FatDirEntry& entry, size_t capacity);

// A DOS date and time (local time, 2-second steps) as a FILETIME with no
// time-zone step; 0 when they are not a valid calendar time.
uint64_t DosDateTimeToFileTime(uint16_t date, uint16_t time);

// Whether a run of bytes (whole entries) reads like directory entries. Used where the
// engine must guess that a directory goes on in the following cluster.
bool LooksLikeDirectorySector(ByteView sector);

}  // namespace kestrel::fat
