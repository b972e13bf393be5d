// The POSIX conversion remembers offsets; Windows asks the system each time.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <time.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "kernel/os/Os.h"

namespace kestrel::os {
namespace {

constexpr int64_t kEpochTicks = 116444736000000000LL;
constexpr int64_t kTicks = 10000000LL;

uint64_t FileTime(int64_t unixSeconds) { return static_cast<uint64_t>(kEpochTicks + unixSeconds * kTicks); }

// Conversions are remembered per quarter hour: around a change of offset,
// and with far-apart times taking turns, each must still equal what
// localtime_r says for that very second.
void ExpectExactAround(const char* zone, int64_t change) {
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  setenv("TZ", zone, 1);
  tzset();
  // A new thread starts with nothing remembered from another zone.
  std::thread([&] {
    for (int64_t t = change - 7200; t <= change + 7200; t += 59) {
      for (int64_t at : {t, t - 86400 * 200}) {
        time_t native = static_cast<time_t>(at);
        struct tm local;
        ASSERT_NE(localtime_r(&native, &local), nullptr);
        uint64_t converted = 0;
        ASSERT_TRUE(FileTimeToLocal(FileTime(at), converted));
        EXPECT_EQ(static_cast<int64_t>(converted), static_cast<int64_t>(FileTime(at)) + local.tm_gmtoff * kTicks)
            << zone << " at " << at;
      }
    }
  }).join();
  if (old)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

TEST(LocalTime, OffsetIsExactAcrossChanges) {
  // Central Europe: 2024-03-31 01:00 UTC and 2024-10-27 01:00 UTC.
  ExpectExactAround("CET-1CEST,M3.5.0,M10.5.0/3", 1711846800);
  ExpectExactAround("CET-1CEST,M3.5.0,M10.5.0/3", 1729990800);
  // Half-hour summer time (Lord Howe rules): 2024-10-06 02:00 local, 15:30 UTC.
  ExpectExactAround("LHST-10:30LHDT-11,M10.1.0,M4.1.0", 1728142200);
  // A change inside a quarter hour (at 02:07 local).
  ExpectExactAround("XST-1XDT,M3.5.0/2:07,M10.5.0/3:07", 1711846800 + 7 * 60);
}

}  // namespace
}  // namespace kestrel::os
#endif
