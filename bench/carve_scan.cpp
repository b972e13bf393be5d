// Runs the deep scan over an image through the kernel's exports and prints
// the seconds it took, the volume's bytes and the finds; with a folder,
// recovers every find into it. Built and run by bench/carve.sh.
//   carve_scan IMAGE [OUTFOLDER]
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "kernel/Kestrel.h"

namespace {
std::mutex lock;
std::condition_variable closed;
bool done = false;

void Post(void*, uint32_t message, uintptr_t, intptr_t) {
  if (message != KESTREL_WM_CLOSE) return;
  std::lock_guard<std::mutex> g(lock);
  done = true;
  closed.notify_all();
}

std::u16string U16(const std::string& s) { return std::u16string(s.begin(), s.end()); }
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: carve_scan IMAGE [OUTFOLDER]\n");
    return 2;
  }
  const std::u16string image = U16(argv[1]);
  KX_MapVolume(u'V', reinterpret_cast<const KChar*>(image.c_str()));
  SH_Init(nullptr);
  KestrelSink sink{&Post, nullptr};
  const auto start = std::chrono::steady_clock::now();
  const std::clock_t cpuStart = std::clock();
  if (KX_StartScan(reinterpret_cast<const KChar*>(u"V:\\"), reinterpret_cast<const KChar*>(u"V:"),
                   KX_MODE_DEEP, &sink) != 1)
    return 1;
  {
    std::unique_lock<std::mutex> g(lock);
    closed.wait(g, [] { return done; });
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  uint64_t bytes = 0, total = 0;
  KX_GetScanProgress(&bytes, &total);
  const int count = SH_GetDelItemCount();
  int intact = 0;
  for (int i = 0; i < count; ++i) {
    DelItem item;
    SH_GetDelItemFromIndex(i, &item);
    KX_ItemInfo info{};
    info.size = sizeof info;
    KX_GetDelItemInfo(item.idLow, item.idHigh, &info);
    intact += info.state == KX_STATE_INTACT;
  }
  // CPU seconds tell the scan's own cost apart from waiting on a busy machine.
  const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  std::printf("seconds %.3f bytes %llu finds %d intact %d status %d cpu %.3f\n", seconds,
              static_cast<unsigned long long>(total), count, intact, KX_GetLastScanStatus(nullptr, 0),
              cpu);
  if (argc > 2) {
    std::u16string folder = U16(argv[2]);
    if (folder.back() != u'/') folder += u'/';
    const auto r0 = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
      DelItem item;
      SH_GetDelItemFromIndex(i, &item);
      SH_RecoveryFile(reinterpret_cast<const KChar*>(folder.c_str()), item.idLow, item.idHigh);
    }
    std::printf("recover_seconds %.3f\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - r0).count());
  }
  SH_StopTask();
  SH_UnInit();
  return 0;
}
