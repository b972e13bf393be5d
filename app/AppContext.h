// What the main window owns and lends its pages: the kernel's loader, the
// settings file, the application state, the worker threads, and the main
// window itself (where pages send their page requests).
#pragma once

#include <windows.h>

#include <string>

#include "app/KernelLoader.h"
#include "app/SettingsFile.h"
#include "app/core/AppState.h"
#include "app/core/WorkerGroup.h"

class AppContext {
 public:
  AppContext();
  explicit AppContext(const std::wstring& programFolder)
      : m_kernel(programFolder), m_settings(programFolder) {}
  AppContext(const AppContext&) = delete;
  AppContext& operator=(const AppContext&) = delete;

  KernelLoader& Kernel() { return m_kernel; }
  SettingsFile& Settings() { return m_settings; }
  restorix::AppState& State() { return m_state; }
  WorkerGroup& Workers() { return m_workers; }
  HWND Host() const { return m_host; }
  void SetHost(HWND window) { m_host = window; }

 private:
  // Members go away in reverse order: the workers are joined before
  // anything they use, and the library goes last.
  KernelLoader m_kernel;
  SettingsFile m_settings;
  restorix::AppState m_state;
  HWND m_host = nullptr;
  WorkerGroup m_workers;
};
