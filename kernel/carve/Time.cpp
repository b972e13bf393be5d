// Calendar dates to FILETIME (100 ns since 1601-01-01), for the times
// formats store as text or fields.
#include "kernel/carve/Formats.h"

namespace kestrel::carve {

uint64_t FileTimeFromCivil(int y, int m, int d, int hh, int mm, int ss) {
  if (y < 1601 || y > 9999 || m < 1 || m > 12 || d < 1 || d > 31 || hh < 0 || hh > 23 ||
      mm < 0 || mm > 59 || ss < 0 || ss > 60)
    return 0;
  // Days from 1970-01-01 of a proleptic Gregorian date.
  y -= m <= 2;
  const int64_t era = y / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days = era * 146097 + doe - 719468;
  const int64_t seconds = days * 86400 + hh * 3600 + mm * 60 + ss;
  return static_cast<uint64_t>((seconds + 11644473600LL) * 10000000LL);
}

uint64_t FileTimeFromText(const uint8_t* t, size_t n) {
  if (n < 19) return 0;
  auto num = [&](size_t at, size_t digits, int& out) {
    out = 0;
    for (size_t i = at; i < at + digits; ++i) {
      if (t[i] < '0' || t[i] > '9') return false;
      out = out * 10 + (t[i] - '0');
    }
    return true;
  };
  int y, mo, d, h, mi, s;
  if (!num(0, 4, y) || !num(5, 2, mo) || !num(8, 2, d) || !num(11, 2, h) || !num(14, 2, mi) ||
      !num(17, 2, s))
    return 0;
  return FileTimeFromCivil(y, mo, d, h, mi, s);
}

}  // namespace kestrel::carve
