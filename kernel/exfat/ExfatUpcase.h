// The exFAT up-case table: a file of the root folder (entry type 0x82:
// 0x04 u32 table checksum, 0x14 u32 first cluster, 0x18 u64 length) that
// maps each UTF-16 unit to its upper case, in order from unit 0. A unit
// 0xFFFF followed by a count stands for that many units that map to
// themselves. File names are hashed in upper case into the stream
// extension (offset 0x04, u16); a set read from free clusters is trusted
// only when its name hashes to that value.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "kernel/Bytes.h"

namespace kestrel::exfat {

class UpcaseTable {
 public:
  // Reads the table; false (and no table) when its checksum does not match.
  bool Load(ByteView raw, uint32_t checksum);
  bool Loaded() const { return !upper_.empty(); }
  char16_t Upper(char16_t unit) const { return Loaded() ? upper_[unit] : unit; }
  // The name hash of the stream extension.
  uint16_t NameHash(std::u16string_view name) const;

 private:
  std::vector<char16_t> upper_;
};

// The checksum of the table as stored (the same rotation as the boot region's).
uint32_t UpcaseChecksum(ByteView raw);

}  // namespace kestrel::exfat
