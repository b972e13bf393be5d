// Times one format-recovery scan of an image through the exports (the
// command line gets its own switch for it): prints seconds, items found
// and the image's read rate; with a second argument, every item.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "kernel/Kestrel.h"

namespace {
std::atomic<bool> closed{false};
void Post(void*, uint32_t message, uintptr_t, intptr_t) {
  if (message == KESTREL_WM_CLOSE) closed = true;
}
std::u16string U16(const std::string& s) { return std::u16string(s.begin(), s.end()); }
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: formatted_bench IMAGE [list]\n");
    return 2;
  }
  const std::u16string image = U16(argv[1]);
  KX_MapVolume(u'K', reinterpret_cast<const KChar*>(image.c_str()));
  SH_Init(nullptr);
  KestrelSink sink{Post, nullptr};
  const auto start = std::chrono::steady_clock::now();
  if (KX_StartScan(reinterpret_cast<const KChar*>(u"K:\\"), reinterpret_cast<const KChar*>(u"K:"),
                   KX_MODE_FORMATTED, &sink) != 1)
    return 1;
  while (!closed) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  SH_StopTask();
  const double mib = std::filesystem::file_size(argv[1]) / 1048576.0;
  std::printf("%.3f s  %d items  status %d  %.0f MiB/s\n", seconds, SH_GetDelItemCount(),
              KX_GetLastScanStatus(nullptr, 0), mib / seconds);
  if (argc > 2) {  // "list": every item's path and size
    for (int i = 0; i < SH_GetDelItemCount(); ++i) {
      DelItem item;
      SH_GetDelItemFromIndex(i, &item);
      std::string path;
      for (const KChar* c = item.path; *c; ++c) path += *c < 0x80 ? static_cast<char>(*c) : '?';
      std::printf("%s\t%llu\n", path.c_str(), static_cast<unsigned long long>(item.size));
    }
  }
  SH_UnInit();
  return 0;
}
