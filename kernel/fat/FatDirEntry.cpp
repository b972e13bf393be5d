#include "kernel/fat/FatDirEntry.h"

#include <cstring>

namespace kestrel::fat {
namespace {

// Windows-1252 at 0x80-0x9F; the five unassigned bytes map to the C1
// controls of the same value, as the system conversion does.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t DecodeAnsi(uint8_t b) {
  if (b >= 0x80 && b <= 0x9F) return kCp1252High[b - 0x80];
  return static_cast<char16_t>(b);
}

bool IsLeapYear(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int64_t year, int month) {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

// Days from 1601-01-01 to the given date (proleptic Gregorian).
int64_t DaysSince1601(int64_t y, int m, int d) {
  // Days from civil, shifted so that March starts the year.
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t daysSince1970 = era * 146097 + doe - 719468;
  return daysSince1970 + 134774;  // 1601-01-01 to 1970-01-01
}

}  // namespace

void FatDirEntry::LongNameChars(char16_t out[kLongNameChars]) const {
  static const uint8_t offsets[kLongNameChars] = {0x01, 0x03, 0x05, 0x07, 0x09, 0x0E, 0x10,
                                                  0x12, 0x14, 0x16, 0x18, 0x1C, 0x1E};
  for (uint32_t i = 0; i < kLongNameChars; ++i) out[i] = static_cast<char16_t>(le16(&bytes[offsets[i]]));
}

bool FatDirEntry::ShortNameIs(const char* eleven) const {
  return std::memcmp(bytes.data(), eleven, 11) == 0;
}

bool IsListableFileAttribute(uint8_t a) { return a == 0x01 || a == 0x02 || a == 0x04 || a == 0x20; }

std::u16string ShortNameToText(const FatDirEntry& entry, size_t capacity) {
  // Windows NT and later store "docs" or "a.txt" as a short entry alone,
  // with byte 0x0C saying which part is shown in lower case; Windows and
  // the other tools show them that way, and so do we.
  const uint8_t caseFlags = entry.bytes[0x0C];
  auto shown = [](uint8_t b, bool lower) {
    char16_t c = DecodeAnsi(b);
    return (lower && c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
  };
  std::u16string name, ext;
  bool first = true;
  for (int i = 0; i < 8; ++i) {
    uint8_t b = entry.bytes[i];
    if (b == 0x20) continue;
    name += (first && b == kDeletedMark) ? u'_' : shown(b, caseFlags & kLowerCaseBase);
    first = false;
  }
  for (int i = 8; i < 11; ++i) {
    uint8_t b = entry.bytes[i];
    if (b != 0x20) ext += shown(b, caseFlags & kLowerCaseExtension);
  }
  if (!ext.empty()) name += u'.' + ext;
  if (name.size() + 1 >= capacity) return {};
  return name;
}

uint64_t DosDateTimeToFileTime(uint16_t date, uint16_t time) {
  int64_t year = (date >> 9) + 1980;
  int month = (date >> 5) & 0x0F;
  int day = date & 0x1F;
  int hour = (time >> 11) & 0x1F;
  int minute = (time >> 5) & 0x3F;
  int second = (time & 0x1F) * 2;
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 59)
    return 0;
  int64_t seconds = DaysSince1601(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return static_cast<uint64_t>(seconds) * 10000000ull;
}

bool LooksLikeDirectorySector(ByteView sector) {
  for (size_t off = 0; off + kDirEntryBytes <= sector.size(); off += kDirEntryBytes) {
    uint8_t first = sector.u8(off);
    if (first == kEndOfDirectory) return true;  // the directory ends here
    uint8_t attr = sector.u8(off + 0x0B);
    if (attr == kAttrLongName) {
      // Long-name pieces: type 0 and a zero cluster word.
      if (sector.u16(off + 0x1A) != 0 || sector.u8(off + 0x0C) != 0) return false;
      continue;
    }
    // Short entries: no unknown attribute or case bits, creation tenths of
    // at most 199, and name bytes a short name may hold (no lower case, no
    // controls, none of the characters short names exclude). Text and most
    // other file contents fail one of these at once.
    if ((attr & 0xC0) || (sector.u8(off + 0x0C) & ~(kLowerCaseBase | kLowerCaseExtension)) ||
        sector.u8(off + 0x0D) > 199)
      return false;
    if (first < 0x20 && first != 0x05) return false;
    for (size_t i = first == kDeletedMark || first == 0x05 ? 1 : 0; i < 11; ++i) {
      uint8_t c = sector.u8(off + i);
      if (c < 0x20 || (c >= 'a' && c <= 'z') || std::strchr("\"*+,/:;<=>?[\\]|", c) != nullptr)
        return false;
      if (c == '.' && !(i <= 1 && sector.u8(off) == '.')) return false;
    }
  }
  return true;
}

}  // namespace kestrel::fat
