#include "tests/app/gui/GuiHarness.h"

#include <shellapi.h>
#include <bcrypt.h>

#include <cstdio>
#include <iterator>
#include <memory>

#include "app/AppFiles.h"
#include "app/core/FolderPaths.h"
#include "app/core/WindowRules.h"
#include "app/resource.h"

namespace guitest {

std::atomic<int> g_passed{0};
std::atomic<int> g_failed{0};

void Check(bool ok, const char* what, int line) {
  if (ok) {
    ++g_passed;
    std::printf("ok    %s\n", what);
  } else {
    ++g_failed;
    std::printf("FAIL  %s (line %d)\n", what, line);
  }
  std::fflush(stdout);
}

// Polls `done` every 10 ms for up to `ms`; true when it came true.
bool WaitUntil(const std::function<bool()>& done, DWORD ms) {
  const ULONGLONG end = GetTickCount64() + ms;
  for (;;) {
    if (done()) return true;
    if (GetTickCount64() > end) return false;
    Sleep(10);
  }
}

// ---------------------------------------------------------------- invoker
// A message-only window of the dialog's thread: runs code there, answers
// the kernel's scan messages, and marks how far the posted queue has gone.
namespace {
constexpr UINT kInvoke = WM_APP + 1;
constexpr UINT kQueueMark = WM_APP + 2;
constexpr UINT kInvokePosted = WM_APP + 3;
}  // namespace
HWND g_invoker = nullptr;
std::atomic<int> g_scanClosed{0};
std::atomic<long long> g_scanCount{-1};

namespace {
LRESULT CALLBACK InvokerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kInvoke:
      (*reinterpret_cast<std::function<void()>*>(lParam))();
      return 1;
    case kInvokePosted: {
      // For code that runs a modal loop: the driver must not wait on it.
      std::unique_ptr<std::function<void()>> fn(reinterpret_cast<std::function<void()>*>(lParam));
      (*fn)();
      return 0;
    }
    case kQueueMark:
      SetEvent(reinterpret_cast<HANDLE>(lParam));
      return 0;
    case WM_SCAN_FOUND_COUNT:
      g_scanCount = static_cast<long long>(wParam);
      return 0;
    case WM_CLOSE:  // the kernel's end-of-scan message
      g_scanClosed = 1;
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

}  // namespace

void CreateInvoker() {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = InvokerProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"RestorixGuiTestInvoker";
  RegisterClassW(&wc);
  g_invoker = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

void OnUiThread(const std::function<void()>& fn) {
  std::function<void()> copy = fn;
  SendMessageW(g_invoker, kInvoke, 0, reinterpret_cast<LPARAM>(&copy));
}

void PostToUiThread(std::function<void()> fn) {
  PostMessageW(g_invoker, kInvokePosted, 0, reinterpret_cast<LPARAM>(new std::function<void()>(std::move(fn))));
}

// Waits until the window thread has handled everything posted before this
// call, three rounds deep (a posted key may post a command, which may post
// another).
bool DrainPosted() {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  bool ok = true;
  for (int round = 0; round < 3 && ok; ++round) {
    PostMessageW(g_invoker, kQueueMark, 0, reinterpret_cast<LPARAM>(event));
    ok = WaitForSingleObject(event, 20000) == WAIT_OBJECT_0;
  }
  CloseHandle(event);
  return ok;
}

// ---------------------------------------------------------------- windows
std::wstring WindowText(HWND hwnd) {
  wchar_t text[1024] = {};
  GetWindowTextW(hwnd, text, static_cast<int>(std::size(text)));
  return text;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, static_cast<int>(std::size(name)));
  return name;
}

// A visible dialog box (#32770) of this process with the given caption,
// other than `except`.
HWND FindDialog(const std::wstring& caption, HWND except) {
  struct Search {
    std::wstring caption;
    HWND except;
    HWND found;
  } search{caption, except, nullptr};
  EnumWindows(
      [](HWND hwnd, LPARAM lp) -> BOOL {
        auto* s = reinterpret_cast<Search*>(lp);
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (pid != GetCurrentProcessId() || hwnd == s->except || !IsWindowVisible(hwnd)) return TRUE;
        if (ClassOf(hwnd) != L"#32770" || WindowText(hwnd) != s->caption) return TRUE;
        s->found = hwnd;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The text of a message box: its longest static text.
std::wstring MessageBoxText(HWND box) {
  std::wstring best;
  EnumChildWindows(
      box,
      [](HWND child, LPARAM lp) -> BOOL {
        auto* b = reinterpret_cast<std::wstring*>(lp);
        if (_wcsicmp(ClassOf(child).c_str(), L"Static") == 0) {
          std::wstring t = WindowText(child);
          if (t.size() > b->size()) *b = t;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&best));
  return best;
}

RECT RectInParent(HWND child) {
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

SIZE ClientSize(HWND hwnd) {
  RECT r;
  GetClientRect(hwnd, &r);
  return {r.right, r.bottom};
}

LRESULT HitTestAt(HWND hwnd, int clientX, int clientY) {
  POINT pt = {clientX, clientY};
  ClientToScreen(hwnd, &pt);
  return SendMessageW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(pt.x, pt.y));
}

std::wstring TempFolder(const wchar_t* name) {
  wchar_t base[MAX_PATH] = {};
  GetTempPathW(static_cast<DWORD>(std::size(base)), base);
  std::wstring path = std::wstring(base) + name + L"-" + std::to_wstring(GetCurrentProcessId());
  return path;
}

void RemoveTree(const std::wstring& path) {
  std::wstring from = path + L'\0' + L'\0';
  SHFILEOPSTRUCTW op = {};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
  SHFileOperationW(&op);
}

std::wstring ImageFromEnvironment() {
  wchar_t unixPath[1024] = {};
  if (!GetEnvironmentVariableW(L"RESTORIX_GUI_IMAGE", unixPath, static_cast<DWORD>(std::size(unixPath))))
    return std::wstring();
  std::wstring p = unixPath;
  if (!p.empty() && p[0] == L'/') {
    for (wchar_t& c : p)
      if (c == L'/') c = L'\\';
    p = L"Z:" + p;
  }
  return p;
}

// Maps the FAT image to R:, the NTFS one beside it to N: and the search
// pages' FAT image restorix_gui_search.img to S: in the library
// before the window's SH_Init runs. The module stays loaded (the window's
// kernel loader loads the same one).
bool MapTestImage(const std::wstring& image) {
  if (image.empty()) return false;
  HMODULE kestrel = LoadLibraryW((GetProgramFolder(nullptr) + L"\\Kestrel.dll").c_str());
  if (!kestrel) return false;
  using MapFn = int(__cdecl*)(wchar_t, const wchar_t*);
  auto map = reinterpret_cast<MapFn>(reinterpret_cast<void*>(GetProcAddress(kestrel, "KX_MapVolume")));
  const std::wstring ntfs = restorix::RemoveFileSpec(image) + L"\\restorix_gui_ntfs.img";
  // The search and preview pages' volume; its own test reports a failure.
  const std::wstring search = restorix::RemoveFileSpec(image) + L"\\restorix_gui_search.img";
  if (map) map(L'S', search.c_str());
  return map && map(L'R', image.c_str()) == 1 && map(L'N', ntfs.c_str()) == 1;
}

int KernelItemCount() {
  HMODULE kestrel = GetModuleHandleW(L"Kestrel.dll");
  using CountFn = int(__cdecl*)();
  auto count = kestrel ? reinterpret_cast<CountFn>(reinterpret_cast<void*>(GetProcAddress(kestrel, "SH_GetDelItemCount")))
                       : nullptr;
  return count ? count() : -1;
}

DWORD RunSelf(const wchar_t* arguments) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, static_cast<DWORD>(std::size(self)));
  std::wstring command = L"\"" + std::wstring(self) + L"\" " + arguments;
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return 0xFFFFFFFF;
  DWORD code = 0xFFFFFFFE;
  if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

HWND FindPicker() {
  struct S {
    HWND found = nullptr;
  } s;
  EnumWindows(
      [](HWND hwnd, LPARAM lp) -> BOOL {
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        if (pid != GetCurrentProcessId() || ClassOf(hwnd) != L"#32770" || !IsWindowVisible(hwnd)) return TRUE;
        if (MessageBoxText(hwnd) != L"选择恢复文件保存目录") return TRUE;
        reinterpret_cast<S*>(lp)->found = hwnd;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&s));
  return s.found;
}

std::string ReadFileBytes(const std::wstring& path) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return std::string();
  std::string out;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(f, buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
  CloseHandle(f);
  return out;
}

std::string Sha256Hex(const std::string& bytes) {
  BCRYPT_ALG_HANDLE alg = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  unsigned char digest[32] = {};
  bool ok = BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0 &&
            BCryptCreateHash(alg, &hash, nullptr, 0, nullptr, 0, 0) == 0 &&
            BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                           static_cast<ULONG>(bytes.size()), 0) == 0 &&
            BCryptFinishHash(hash, digest, sizeof digest, 0) == 0;
  if (hash) BCryptDestroyHash(hash);
  if (alg) BCryptCloseAlgorithmProvider(alg, 0);
  if (!ok) return std::string();
  std::string hex;
  char two[3];
  for (unsigned char b : digest) {
    std::snprintf(two, sizeof two, "%02x", b);
    hex += two;
  }
  return hex;
}

}  // namespace guitest
