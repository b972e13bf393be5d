// What every part of the GUI test program shares: the pass/fail count,
// waiting, running code on the window thread, and finding windows.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>

namespace guitest {

extern std::atomic<int> g_passed;
extern std::atomic<int> g_failed;
void Check(bool ok, const char* what, int line);
#define CHECK(cond) ::guitest::Check((cond), #cond, __LINE__)
#define CHECK_MSG(cond, what) ::guitest::Check((cond), what, __LINE__)

// Polls `done` every 10 ms for up to `ms`; true when it came true.
bool WaitUntil(const std::function<bool()>& done, DWORD ms = 20000);

// A message-only window of the dialog's thread: runs code there, answers
// the kernel's scan messages, and marks how far the posted queue has gone.
extern HWND g_invoker;
extern std::atomic<int> g_scanClosed;
extern std::atomic<long long> g_scanCount;
void CreateInvoker();
// Runs `fn` on the window thread and waits for it.
void OnUiThread(const std::function<void()>& fn);
// For code that runs a modal loop: the driver must not wait on it.
void PostToUiThread(std::function<void()> fn);
// Waits until the window thread has handled everything posted before.
bool DrainPosted();

std::wstring WindowText(HWND hwnd);
std::wstring ClassOf(HWND hwnd);
// A visible dialog box (#32770) of this process with the caption.
HWND FindDialog(const std::wstring& caption, HWND except = nullptr);
// The text of a message box: its longest static text.
std::wstring MessageBoxText(HWND box);
// The shell's folder picker with our title ("选择恢复文件保存目录"), when it is up.
HWND FindPicker();
RECT RectInParent(HWND child);
SIZE ClientSize(HWND hwnd);
LRESULT HitTestAt(HWND hwnd, int clientX, int clientY);
std::wstring TempFolder(const wchar_t* name);
void RemoveTree(const std::wstring& path);
// RESTORIX_GUI_IMAGE as a Windows path.
std::wstring ImageFromEnvironment();
// Maps the FAT image to R: and the NTFS one beside it to N: (and
// restorix_gui_search.img beside it to S:).
bool MapTestImage(const std::wstring& image);

// A file's whole contents ("" when it cannot be read), and the lowercase
// hex SHA-256 of some bytes ("" when the system cannot hash).
std::string ReadFileBytes(const std::wstring& path);
std::string Sha256Hex(const std::string& bytes);
int KernelItemCount();
DWORD RunSelf(const wchar_t* arguments);

}  // namespace guitest
