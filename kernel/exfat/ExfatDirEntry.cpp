#include "kernel/exfat/ExfatDirEntry.h"

namespace kestrel::exfat {
namespace {

constexpr uint64_t kTicksPerSecond = 10000000;
constexpr uint64_t kUnixEpochSeconds = 11644473600;  // 1601-01-01 to 1970-01-01
constexpr size_t kNameUnitsPerEntry = 15;

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

uint64_t TimeAsWritten(const ExfatTime& time) {
  const uint32_t s = time.stamp;
  const unsigned seconds = (s & 0x1F) * 2, minute = (s >> 5) & 0x3F, hour = (s >> 11) & 0x1F;
  const unsigned day = (s >> 16) & 0x1F, month = (s >> 21) & 0x0F, year = 1980 + (s >> 25);
  if (s == 0 || month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || seconds > 59 ||
      time.tenMs > 199)
    return 0;
  const int64_t days = DaysFromCivil(year, month, day);
  const uint64_t unixSeconds = static_cast<uint64_t>(days) * 86400 + hour * 3600 + minute * 60 + seconds;
  return (unixSeconds + kUnixEpochSeconds) * kTicksPerSecond + uint64_t{time.tenMs} * 100000;
}

uint64_t TimeToUtc(const ExfatTime& time) {
  const uint64_t written = TimeAsWritten(time);
  if (written == 0 || !(time.utcOffset & 0x80)) return written;
  int quarters = time.utcOffset & 0x7F;
  if (quarters & 0x40) quarters -= 0x80;
  const int64_t shift = static_cast<int64_t>(quarters) * 15 * 60 * static_cast<int64_t>(kTicksPerSecond);
  return static_cast<uint64_t>(static_cast<int64_t>(written) - shift);
}

uint16_t SetChecksum(ByteView bytes) {
  uint16_t sum = 0;
  const uint8_t* p = bytes.data();
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i == 2 || i == 3) continue;
    uint8_t b = p[i];
    if (i % kEntryBytes == 0) b |= kInUse;
    sum = static_cast<uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + b);
  }
  return sum;
}

SetStatus ReadEntrySet(ByteView entries, EntrySet& out) {
  if (!entries.Has(0, kEntryBytes) || (entries.u8(0) | kInUse) != kTypeFile) return SetStatus::NotASet;
  out.deleted = (entries.u8(0) & kInUse) == 0;
  out.secondaryCount = entries.u8(1);
  // A stream extension and at least one name entry; at most 17 name entries.
  if (out.secondaryCount < 2 || out.secondaryCount > 18) return SetStatus::Malformed;
  if (!entries.Has(0, out.Bytes())) return SetStatus::Truncated;
  ByteView set = entries.Sub(0, out.Bytes());
  ByteView stream = set.Sub(kEntryBytes, kEntryBytes);
  if ((stream.u8(0) | kInUse) != kTypeStream) return SetStatus::Malformed;
  // The name entries follow the stream extension; any further secondary
  // entries (vendor extensions) are only counted.
  const size_t nameLength = stream.u8(0x03);
  const size_t nameEntries = (nameLength + kNameUnitsPerEntry - 1) / kNameUnitsPerEntry;
  if (nameLength == 0 || nameEntries > out.secondaryCount - 1u) return SetStatus::Malformed;
  for (size_t i = 2; i <= out.secondaryCount; ++i) {
    const uint8_t type = set.u8(i * kEntryBytes) | kInUse;
    if (i < 2 + nameEntries ? type != kTypeName : (type & 0x40) == 0) return SetStatus::Malformed;
  }
  if (SetChecksum(set) != set.u16(2)) return SetStatus::BadChecksum;

  out.attributes = set.u16(0x04);
  out.created = {set.u32(0x08), set.u8(0x14), set.u8(0x16)};
  out.modified = {set.u32(0x0C), set.u8(0x15), set.u8(0x17)};
  out.accessed = {set.u32(0x10), 0, set.u8(0x18)};
  out.streamFlags = stream.u8(0x01);
  out.nameHash = stream.u16(0x04);
  out.validLength = stream.u64(0x08);
  out.firstCluster = stream.u32(0x14);
  out.dataLength = stream.u64(0x18);
  out.name.resize(nameLength);
  for (size_t i = 0; i < nameLength; ++i) {
    const size_t entry = 2 + i / kNameUnitsPerEntry;
    out.name[i] = static_cast<char16_t>(set.u16(entry * kEntryBytes + 2 + (i % kNameUnitsPerEntry) * 2));
  }
  return SetStatus::Ok;
}

}  // namespace kestrel::exfat
