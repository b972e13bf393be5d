#include "cli/Platform.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

#include <set>
#include <thread>
#include <utility>

#include "cli/MountTable.h"
#include "cli/Text.h"
#include "cli/VolumeArgument.h"

#if defined(_WIN32)
#  include <io.h>
#  include <windows.h>
#else
#  include <pthread.h>
#  include <signal.h>
#  include <sys/stat.h>
#  include <sys/sysmacros.h>
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

namespace {

std::atomic<int> gInterrupts{0};
// SH_StopTask and SH_UnInit join the kernel's task thread: never from two
// threads at once.
std::mutex gKernelTaskLock;

void NoteInterrupt() {
  if (gInterrupts.fetch_add(1) > 0) std::_Exit(130);  // asked twice: do not wait
  // On a thread of its own: a stop that waits for a hung device must not
  // keep the watcher from seeing the second interrupt.
  std::thread(StopKernelTask).detach();
}

#if defined(_WIN32)

HANDLE gInterruptEvent = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  SetEvent(gInterruptEvent);
  return TRUE;
}

#endif

}  // namespace

void StartInterruptWatcher() {
#if defined(_WIN32)
  gInterruptEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!gInterruptEvent) return;
  std::thread([] {
    while (WaitForSingleObject(gInterruptEvent, INFINITE) == WAIT_OBJECT_0) NoteInterrupt();
  }).detach();
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
#else
  // Blocked here, before the kernel starts a thread, so every later thread
  // inherits the mask and only the watcher's sigwait takes the signals.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return;
  std::thread([set] {
    for (;;) {
      int signal = 0;
      if (sigwait(&set, &signal) == 0) NoteInterrupt();
    }
  }).detach();
#endif
}

bool Interrupted() { return gInterrupts.load() > 0; }

void StopKernelTask() {
  std::lock_guard<std::mutex> hold(gKernelTaskLock);
  SH_StopTask();
}

void EndKernel() {
  std::lock_guard<std::mutex> hold(gKernelTaskLock);
  SH_UnInit();
}

std::filesystem::path HostPath(const std::string& argument) {
#if defined(_WIN32)
  std::u16string wide = HostToKernel(argument);
  return std::filesystem::path(std::wstring(wide.begin(), wide.end()));
#else
  return std::filesystem::path(argument);
#endif
}

std::u16string KernelPath(const std::filesystem::path& path) {
#if defined(_WIN32)
  const std::wstring& wide = path.native();
  return std::u16string(wide.begin(), wide.end());
#else
  return HostToKernel(path.native());
#endif
}

std::string DisplayPath(const std::filesystem::path& path) {
#if defined(_WIN32)
  return KernelToHost(KernelPath(path));
#else
  return path.native();
#endif
}

namespace {

namespace fs = std::filesystem;

// `folder`, or its nearest parent that exists.
fs::path ExistingAncestor(fs::path folder) {
  std::error_code ec;
  while (!fs::exists(folder, ec)) {
    if (!folder.has_relative_path()) break;
    folder = folder.parent_path();
  }
  return folder;
}

#if !defined(_WIN32)

std::string ReadLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// What a file system's bytes are made of: block devices (by number) and
// image files (by device and inode).
struct Backing {
  std::set<dev_t> devices;
  std::set<std::pair<dev_t, ino_t>> files;
};

void AddFile(const std::string& path, Backing& out);

// The device, the disk it is a partition of, the devices it is built on
// (device mapper, RAID) and a loop device's backing file, recursively.
void AddDevice(dev_t device, Backing& out, int depth = 0) {
  if (depth > 16 || !out.devices.insert(device).second) return;
  std::error_code ec;
  const fs::path node = fs::canonical(
      "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device)), ec);
  if (ec) return;
  auto addNumber = [&](const fs::path& devFile) {
    unsigned maj = 0, min = 0;
    if (std::sscanf(ReadLine(devFile).c_str(), "%u:%u", &maj, &min) == 2)
      AddDevice(makedev(maj, min), out, depth + 1);
  };
  if (fs::exists(node / "partition", ec)) addNumber(node.parent_path() / "dev");
  for (const auto& slave : fs::directory_iterator(node / "slaves", ec)) addNumber(slave.path() / "dev");
  std::string backing = ReadLine(node / "loop" / "backing_file");
  if (!backing.empty()) AddFile(backing, out);
}

void AddFile(const std::string& path, Backing& out) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return;
  if (S_ISBLK(st.st_mode))
    AddDevice(st.st_rdev, out);
  else if (S_ISREG(st.st_mode))
    out.files.insert({st.st_dev, st.st_ino});
}

#endif

}  // namespace

bool FolderOnScannedVolume(const fs::path& folder, const fs::path& volume, char16_t letter) {
  const fs::path here = ExistingAncestor(folder);
#if defined(_WIN32)
  // Volume names tell a volume mounted in a folder, or under two letters.
  auto volumeName = [](const std::wstring& path, std::wstring& name) {
    wchar_t mount[MAX_PATH + 1], guid[64];
    if (!GetVolumePathNameW(path.c_str(), mount, MAX_PATH + 1)) return false;
    if (!GetVolumeNameForVolumeMountPointW(mount, guid, 64)) return false;
    name = guid;
    return true;
  };
  std::wstring scanned;
  if (letter != 0) scanned = std::wstring(1, static_cast<wchar_t>(letter)) + L":\\";
  std::wstring outName, scannedName;
  if (!scanned.empty() && volumeName(fs::absolute(here).wstring(), outName) &&
      volumeName(scanned, scannedName))
    return _wcsicmp(outName.c_str(), scannedName.c_str()) == 0;
  // Without volume names (Wine, network drives), the drive letter tells.
  return letter != 0 && FolderOnDriveLetter(KernelToHost(KernelPath(fs::absolute(here))), letter);
#else
  (void)letter;
  struct stat out;
  if (volume.empty() || ::stat(here.c_str(), &out) != 0) return false;

  // What the scanned bytes are: a device (and, for a loop device, the file
  // behind it), or an image file.
  Backing scanned;
  struct stat vol;
  if (::stat(volume.c_str(), &vol) != 0) return false;
  if (S_ISBLK(vol.st_mode)) {
    scanned.devices.insert(vol.st_rdev);
    const std::string backing = ReadLine("/sys/dev/block/" + std::to_string(major(vol.st_rdev)) +
                                         ":" + std::to_string(minor(vol.st_rdev)) +
                                         "/loop/backing_file");
    if (!backing.empty()) AddFile(backing, scanned);
  } else {
    scanned.files.insert({vol.st_dev, vol.st_ino});
  }

  // What the output folder's file system is made of. Device-less ones
  // (FUSE such as ntfs-3g, overlays) name their source in the mount table.
  Backing target;
  AddDevice(out.st_dev, target);
  std::ifstream in("/proc/self/mountinfo");
  std::stringstream table;
  table << in.rdbuf();
  for (const MountEntry& m : ParseMountInfo(table.str()))
    if (makedev(m.major, m.minor) == out.st_dev && !m.source.empty() && m.source[0] == '/')
      AddFile(m.source, target);

  for (dev_t d : scanned.devices)
    if (target.devices.count(d)) return true;
  for (const auto& f : scanned.files)
    if (target.files.count(f)) return true;
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
