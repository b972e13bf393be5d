// How a found item appears as a row of the file lists: name, size and
// modification time as text.
#pragma once

#include <cstdint>
#include <string>

namespace restorix {

struct CalendarTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// FileTimeToSystemTime without any time-zone change: 100-ns units since
// 1601-01-01. False for values the system refuses (0x8000000000000000 and
// above).
bool FileTimeToCalendar(uint64_t fileTime, CalendarTime& out);

// "%d-%d-%d %d:%d" (year, month, day, hour, minute, no zero padding); empty
// when the time cannot be converted.
std::wstring FormatItemTime(uint64_t fileTime);

// Decimal byte count.
std::wstring FormatItemSize(uint64_t size);

struct FileRow {
  std::wstring name;
  std::wstring size;
  std::wstring time;
  uint32_t idLow = 0;
};

FileRow MakeFileRow(const std::wstring& itemPath, uint64_t size, uint64_t modified, uint32_t idLow);

}  // namespace restorix
