#include "app/Startup.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <memory>
#include <vector>

#include "app/AppFiles.h"
#include "app/RestorixDlg.h"
#include "app/core/StartupRules.h"
#include "app/core/UiText.h"
#include "controls/GdiplusInclude.h"

namespace {

using restorix::ui::kCaption;

const ULONGLONG g_startTick = GetTickCount64();

// The single-instance block while this process holds it.
struct InstanceBlock {
  HANDLE mapping = nullptr;
  void* view = nullptr;
  ~InstanceBlock() { Release(); }
  void Release() {
    if (view) UnmapViewOfFile(view);
    if (mapping) CloseHandle(mapping);
    view = nullptr;
    mapping = nullptr;
  }
};
InstanceBlock g_block;

void BringForward(HWND window) {
  if (!window || !IsWindow(window)) return;
  if (!IsWindowVisible(window)) ShowWindow(window, SW_SHOW);
  if (IsIconic(window)) SendMessageW(window, WM_SYSCOMMAND, SC_RESTORE, 0);
  SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
  SetForegroundWindow(window);
  SetFocus(window);
}

}  // namespace

bool EnsureSingleInstance() {
  if (g_block.view) return true;
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4,
                                      kSingleInstanceName);
  if (!mapping) return false;
  const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  void* view = MapViewOfFileEx(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 4, nullptr);
  if (!view) {
    CloseHandle(mapping);
    return false;
  }
  if (existed) {
    // Window handles are 32-bit values, so four bytes hold one.
    HWND other = static_cast<HWND>(ULongToHandle(*static_cast<volatile ULONG*>(view)));
    UnmapViewOfFile(view);
    CloseHandle(mapping);
    BringForward(other);
    return false;
  }
  g_block.mapping = mapping;
  g_block.view = view;
  return true;
}

void ReleaseSingleInstance() { g_block.Release(); }

void StoreMainWindow(HWND window) {
  if (g_block.view) *static_cast<volatile ULONG*>(g_block.view) = HandleToULong(window);
}

HWND ReadStoredMainWindow() {
  HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, kSingleInstanceName);
  if (!mapping) return nullptr;
  HWND window = nullptr;
  if (void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 4)) {
    window = static_cast<HWND>(ULongToHandle(*static_cast<volatile ULONG*>(view)));
    UnmapViewOfFile(view);
  }
  CloseHandle(mapping);
  return window;
}

std::optional<uint32_t> ReadIntegrityRid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &token)) {
    // Some systems refuse all access; reading needs only query rights.
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::nullopt;
  }
  std::optional<uint32_t> rid;
  DWORD size = 0;
  GetTokenInformation(token, TokenIntegrityLevel, nullptr, 0, &size);
  if (size >= sizeof(TOKEN_MANDATORY_LABEL)) {
    std::vector<unsigned char> buffer(size);
    if (GetTokenInformation(token, TokenIntegrityLevel, buffer.data(), size, &size)) {
      auto* label = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer.data());
      PSID sid = label->Label.Sid;
      if (sid && IsValidSid(sid)) {
        UCHAR count = *GetSidSubAuthorityCount(sid);
        if (count > 0) rid = *GetSidSubAuthority(sid, count - 1);
      }
    }
  }
  CloseHandle(token);
  return rid;
}

bool NeedsElevation() {
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExW(&version)) return false;
#pragma GCC diagnostic pop
  if (version.dwMajorVersion <= 5) return false;
  return restorix::ElevationNeeded(version.dwMajorVersion, ReadIntegrityRid());
}

bool RelaunchElevated() {
  wchar_t path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
  if (n == 0 || n >= std::size(path)) return false;
  // The elevated copy runs its own single-instance test while this copy may
  // still be alive: let go of the block first.
  ReleaseSingleInstance();
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.hwnd = nullptr;
  info.lpVerb = L"runas";
  info.lpFile = path;
  info.lpParameters = L"";
  info.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&info)) return false;
  if (info.hProcess) CloseHandle(info.hProcess);
  return true;
}

namespace {
class Win32CrashActions : public restorix::CrashActions {
 public:
  void TellUser() override { MessageBoxW(nullptr, restorix::ui::kRestarting, kCaption, MB_OK); }
  void OpenFeedback() override {
    // Our own folder is the feedback address: it holds the program and its
    // settings, and it always exists.
    const std::wstring folder = GetProgramFolder(nullptr);
    ShellExecuteW(nullptr, L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  }
  bool StartedByCrashRestart() override {
    wchar_t marker[8] = {};
    return GetEnvironmentVariableW(kCrashRestartVariable, marker, static_cast<DWORD>(std::size(marker))) > 0;
  }
  uint64_t UptimeMs() override { return GetTickCount64() - g_startTick; }
  void MarkNextStartAsRestart() override {
    // Inherited by the new copy, which then will not restart again should
    // it crash as quickly.
    SetEnvironmentVariableW(kCrashRestartVariable, L"1");
  }
  void StartNewCopy() override {
    wchar_t path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
    if (n == 0 || n >= std::size(path)) return;
    // The new copy must not find this dying one in the single-instance block.
    ReleaseSingleInstance();
    ShellExecuteW(nullptr, L"open", path, nullptr, nullptr, SW_SHOWNORMAL);
  }
};
}  // namespace

LONG WINAPI CrashRestartFilter(EXCEPTION_POINTERS*) {
  Win32CrashActions actions;
  return restorix::HandleCrash(actions) ? EXCEPTION_EXECUTE_HANDLER : EXCEPTION_CONTINUE_SEARCH;
}

bool CRestorixApp::InitInstance() {
  SetUnhandledExceptionFilter(&CrashRestartFilter);
  if (!EnsureSingleInstance()) return false;
  if (NeedsElevation()) {
    if (!RelaunchElevated())
      MessageBoxW(nullptr, restorix::ui::kNeedAdministrator, kCaption, MB_OK);
    return false;
  }
  Gdiplus::GdiplusStartupInput input;  // version 1, no callback, own thread
  if (Gdiplus::GdiplusStartup(&m_gdiplusToken, &input, nullptr) != Gdiplus::Ok) m_gdiplusToken = 0;
  INITCOMMONCONTROLSEX controls = {};
  controls.dwSize = sizeof controls;
  controls.dwICC = 0xFF;
  InitCommonControlsEx(&controls);
  // The shell's folder picker wants COM on the window thread.
  const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));

  {
    auto dialog = std::make_unique<CRestorixDlg>();
    dialog->DoModal(nullptr);
  }
  if (com) CoUninitialize();
  return false;
}

int CRestorixApp::ExitInstance() {
  if (m_gdiplusToken) Gdiplus::GdiplusShutdown(m_gdiplusToken);
  m_gdiplusToken = 0;
  return 0;
}
