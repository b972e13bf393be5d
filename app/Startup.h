// Process start-up: crash handler, single instance, elevation, GDI+ and the
// common controls, then the main window.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>

// Name of the shared block that holds the running copy's main window.
constexpr wchar_t kSingleInstanceName[] = L"{B680E683-7DE8-4258-B77A-42364CC2AD9F}";
// Set in the environment of a copy that the crash handler started.
constexpr wchar_t kCrashRestartVariable[] = L"RESTORIX_CRASH_RESTART";

// True when this copy may start. Another copy's window is brought forward
// and false returned; false also when the block cannot be set up.
bool EnsureSingleInstance();
// Unmaps and closes the block, so that a copy this one starts (the
// elevated relaunch) is not turned away by it.
void ReleaseSingleInstance();
// Stores the main window in the block (when this process holds it).
void StoreMainWindow(HWND window);
// The window stored in the named block, or null (for tests).
HWND ReadStoredMainWindow();

// The integrity level of this process's token (its RID), when readable.
std::optional<uint32_t> ReadIntegrityRid();
bool NeedsElevation();
bool RelaunchElevated();

LONG WINAPI CrashRestartFilter(EXCEPTION_POINTERS* info);

class CRestorixApp {
 public:
  // Runs everything; false always (the process then ends).
  bool InitInstance();
  int ExitInstance();

 private:
  ULONG_PTR m_gdiplusToken = 0;
};
