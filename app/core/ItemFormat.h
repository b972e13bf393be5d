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

// The state column's text for a KX_STATE_ code and the overwritten share
// (per 10000 of the size): 完好, 部分覆盖 37%, 已覆盖, 部分损坏 or 未知. A partly
// overwritten item shows 1% to 99%, never a whole or no share.
std::wstring ItemStateText(uint32_t state, uint32_t overwrittenShare, uint32_t flags = 0);
// Rows of items that are overwritten outright are drawn in grey.
bool ItemStateGreyed(uint32_t state);

FileRow MakeFileRow(const std::wstring& itemPath, uint64_t size, uint64_t modified, uint32_t idLow);

}  // namespace restorix
