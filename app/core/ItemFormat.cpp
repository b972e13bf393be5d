#include "app/core/ItemFormat.h"

#include <algorithm>

#include "app/core/FolderPaths.h"
#include "app/core/UiText.h"
#include "kernel/Kestrel.h"

namespace restorix {

namespace {
// Days from 1970-01-01 to a civil date, and back (proleptic Gregorian).
void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
}
}  // namespace

bool FileTimeToCalendar(uint64_t fileTime, CalendarTime& out) {
  if (fileTime >= 0x8000000000000000ull) return false;
  const uint64_t seconds = fileTime / 10000000ull;
  // 1601-01-01 is 134774 days before 1970-01-01.
  const int64_t days = static_cast<int64_t>(seconds / 86400) - 134774;
  const uint64_t inDay = seconds % 86400;
  CivilFromDays(days, out.year, out.month, out.day);
  out.hour = static_cast<int>(inDay / 3600);
  out.minute = static_cast<int>(inDay / 60 % 60);
  out.second = static_cast<int>(inDay % 60);
  return true;
}

std::wstring FormatItemTime(uint64_t fileTime) {
  CalendarTime t;
  if (!FileTimeToCalendar(fileTime, t)) return std::wstring();
  return std::to_wstring(t.year) + L"-" + std::to_wstring(t.month) + L"-" + std::to_wstring(t.day) +
         L" " + std::to_wstring(t.hour) + L":" + std::to_wstring(t.minute);
}

std::wstring FormatItemSize(uint64_t size) { return std::to_wstring(size); }

std::wstring ItemStateText(uint32_t state, uint32_t overwrittenShare, uint32_t flags) {
  // Whole clusters of an encrypted file still cannot be read without the
  // owner's key: that is what its row must say.
  if (flags & KX_FLAG_ENCRYPTED) return ui::kStateEncrypted;
  switch (state) {
    case KX_STATE_INTACT:
      return ui::kStateIntact;
    case KX_STATE_PARTLY_OVERWRITTEN: {
      const uint32_t percent = std::clamp<uint32_t>((std::min<uint32_t>(overwrittenShare, 10000) + 50) / 100, 1, 99);
      return ui::kStatePartly + std::to_wstring(percent) + L"%";
    }
    case KX_STATE_OVERWRITTEN:
      return ui::kStateOverwritten;
    case KX_STATE_DAMAGED:
      return ui::kStateDamaged;
    default:
      return ui::kStateUnknown;
  }
}

bool ItemStateGreyed(uint32_t state) { return state == KX_STATE_OVERWRITTEN; }

FileRow MakeFileRow(const std::wstring& itemPath, uint64_t size, uint64_t modified, uint32_t idLow) {
  FileRow row;
  row.name = FileNameOf(itemPath);
  row.size = FormatItemSize(size);
  row.time = FormatItemTime(modified);
  row.idLow = idLow;
  return row;
}

}  // namespace restorix
