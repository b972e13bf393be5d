#include "cli/Platform.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

#include "cli/MountTable.h"
#include "cli/VolumeArgument.h"

#if defined(_WIN32)
#  include <io.h>
#  include <windows.h>
#else
#  include <sys/stat.h>
#  include <unistd.h>
#endif

namespace kestrel::cli {
namespace {

constexpr auto kTickInterval = std::chrono::milliseconds(100);

#if defined(_WIN32)

class WindowListener final : public ScanListener {
 public:
  WindowListener() {
    hwnd_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                            nullptr);
  }
  ~WindowListener() override {
    if (hwnd_) DestroyWindow(hwnd_);
  }
  KWindow Window() override { return hwnd_; }
  void Wait(const std::function<void(uint64_t)>& tick) override {
    uint64_t found = 0;
    for (;;) {
      MSG msg;
      // Only this window's messages: WM_CLOSE must not reach DefWindowProc,
      // which would destroy the window.
      while (PeekMessageW(&msg, hwnd_, 0, 0, PM_REMOVE)) {
        if (msg.message == KESTREL_WM_SCAN_FOUND_COUNT) found = msg.wParam;
        if (msg.message == KESTREL_WM_CLOSE) {
          tick(found);
          return;
        }
      }
      tick(found);
      MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(kTickInterval.count()),
                                QS_ALLPOSTMESSAGE);
    }
  }

 private:
  HWND hwnd_ = nullptr;
};

#else

class SinkListener final : public ScanListener {
 public:
  SinkListener() {
    sink_.post = &SinkListener::Post;
    sink_.context = this;
  }
  KWindow Window() override { return &sink_; }
  void Wait(const std::function<void(uint64_t)>& tick) override {
    std::unique_lock<std::mutex> guard(lock_);
    while (!closed_) {
      changed_.wait_for(guard, kTickInterval);
      uint64_t found = found_.load(std::memory_order_relaxed);
      guard.unlock();
      tick(found);
      guard.lock();
    }
  }

 private:
  // Called on the scan thread, once per found item: the count needs no lock.
  static void Post(void* context, uint32_t message, uintptr_t wParam, intptr_t) {
    auto* self = static_cast<SinkListener*>(context);
    if (message == KESTREL_WM_SCAN_FOUND_COUNT) self->found_.store(wParam, std::memory_order_relaxed);
    if (message == KESTREL_WM_CLOSE) {
      std::lock_guard<std::mutex> guard(self->lock_);
      self->closed_ = true;
      self->changed_.notify_all();
    }
  }

  KestrelSink sink_{};
  std::mutex lock_;
  std::condition_variable changed_;
  std::atomic<uint64_t> found_{0};
  bool closed_ = false;
};

#endif

}  // namespace

std::unique_ptr<ScanListener> CreateScanListener() {
#if defined(_WIN32)
  return std::make_unique<WindowListener>();
#else
  return std::make_unique<SinkListener>();
#endif
}

bool StderrIsTerminal() {
#if defined(_WIN32)
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

void PrepareConsole() {
#if defined(_WIN32)
  SetConsoleOutputCP(CP_UTF8);
#endif
}

uint32_t LettersInUse() {
#if defined(_WIN32)
  return static_cast<uint32_t>(GetLogicalDrives());
#else
  const char* list = std::getenv("KESTREL_VOLUMES");
  return list ? LettersInMappingList(list) : 0;
#endif
}

std::string VolumeTablePath(char16_t letter) {
#if defined(_WIN32)
  return {};
#else
  const char* list = std::getenv("KESTREL_VOLUMES");
  return list ? MappedPath(list, letter) : std::string();
#endif
}

bool FolderOnMountedVolume(const std::filesystem::path& folder,
                           const std::filesystem::path& volume) {
#if defined(_WIN32)
  return false;
#else
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path existing = folder;
  while (!fs::exists(existing, ec)) {
    if (!existing.has_relative_path()) return false;
    existing = existing.parent_path();
  }
  const fs::path here = fs::canonical(existing, ec);
  if (ec) return false;
  const fs::path source = fs::canonical(volume, ec);
  if (ec) return false;
  struct stat dev, st;
  if (::stat(source.c_str(), &dev) == 0 && S_ISBLK(dev.st_mode) &&
      ::stat(here.c_str(), &st) == 0 && st.st_dev == dev.st_rdev)
    return true;
  // FUSE mounts (ntfs-3g) have device numbers of their own: the table of
  // mounts names the source instead.
  std::ifstream in("/proc/self/mounts");
  std::stringstream table;
  table << in.rdbuf();
  for (const MountEntry& m : ParseMountTable(table.str())) {
    if (m.source.empty() || m.source[0] != '/') continue;
    fs::path mounted = fs::canonical(m.source, ec);
    if (!ec && mounted == source && PathWithin(here.string(), m.target)) return true;
  }
  return false;
#endif
}

char FolderSeparator() {
#if defined(_WIN32)
  return '\\';
#else
  return '/';
#endif
}

}  // namespace kestrel::cli
