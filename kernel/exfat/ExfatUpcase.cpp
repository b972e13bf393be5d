#include "kernel/exfat/ExfatUpcase.h"

namespace kestrel::exfat {

uint32_t UpcaseChecksum(ByteView raw) {
  uint32_t sum = 0;
  for (size_t i = 0; i < raw.size(); ++i) sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + raw.data()[i];
  return sum;
}

bool UpcaseTable::Load(ByteView raw, uint32_t checksum) {
  upper_.clear();
  if (raw.size() < 2 || UpcaseChecksum(raw) != checksum) return false;
  std::vector<char16_t> table(65536);
  for (size_t i = 0; i < table.size(); ++i) table[i] = static_cast<char16_t>(i);
  size_t unit = 0;
  for (size_t at = 0; at + 2 <= raw.size() && unit < table.size(); at += 2) {
    const uint16_t value = raw.u16(at);
    if (value == 0xFFFF && at + 4 <= raw.size()) {
      at += 2;
      unit += raw.u16(at);  // units left as they are
      continue;
    }
    table[unit++] = static_cast<char16_t>(value);
  }
  upper_ = std::move(table);
  return true;
}

uint16_t UpcaseTable::NameHash(std::u16string_view name) const {
  uint16_t hash = 0;
  for (char16_t c : name) {
    const uint16_t u = Upper(c);
    for (const uint8_t byte : {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8)})
      hash = static_cast<uint16_t>(((hash & 1) ? 0x8000 : 0) + (hash >> 1) + byte);
  }
  return hash;
}

}  // namespace kestrel::exfat
