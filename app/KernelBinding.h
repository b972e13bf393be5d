// The desktop program's only door to Kestrel.dll: loads it from the program
// folder, resolves each export at every call (a missing one answers 0),
// remembers the chosen partition and the recovery folder, and indexes the
// last scan's items by folder for the results page.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "app/core/FolderIndex.h"
#include "app/core/WorkerGroup.h"
#include "kernel/Kestrel.h"

class KernelBinding {
 public:
  // Reads the recovery folder from Setting.ini beside the program; without
  // one the folder is the program folder + "\RecoveryData", created at once.
  KernelBinding();
  // The same with another program folder (where Kestrel.dll, Setting.ini
  // and the default recovery folder are looked for).
  explicit KernelBinding(const std::wstring& programFolder);
  ~KernelBinding();
  KernelBinding(const KernelBinding&) = delete;
  KernelBinding& operator=(const KernelBinding&) = delete;

  int LoadKernel();
  int UnloadKernel();
  bool IsLoaded() const { return m_module != nullptr; }

  int GetPartitionCount();
  int GetPartitionParameter(PartitionParameter* out, int index);
  int GetItemById(uint32_t idLow, uint32_t idHigh, DelItem* out);
  int StopTask();
  int RecoverFile(const wchar_t* folder, uint32_t idLow, uint32_t idHigh);
  int Scan(const wchar_t* prefix, const wchar_t* volume, int mode, HWND window);

  std::wstring GetRecoverPath() const { return m_recoverPath; }
  void SetRecoverPath(const std::wstring& folder);
  int SetHostWindow(HWND window);
  void SetCurrentPartition(const wchar_t* name, uint8_t fsKind);
  void SetPreviewFile(const std::wstring& path) { m_previewFile = path; }
  std::wstring GetPreviewFile() const { return m_previewFile; }

  // Rebuilds both indexes from the kernel's items and hangs every folder
  // into the tree control (only when `rebuild` is non-zero and a tree is
  // given); expands the first top-level item.
  void FillFolderTree(HWND tree, int rebuild);
  // Appends one checked row per item of `folder` to the list control.
  void FillFileList(const std::wstring& folder, HWND list);
  void CollectFolderItems(const std::wstring& folder, std::vector<restorix::ItemId>& out) const;
  const restorix::FolderIndex& Index() const { return m_index; }
  // Empties the list and appends one checked row per found item whose file
  // name contains `keyword` (a-z folded only), in the kernel's item order.
  // Runs on the search thread: the list is driven by sent messages.
  void SearchItems(std::wstring keyword, HWND list);

  // Recovery and search threads run here, so that the main window can wait
  // for them before the pages and this binding go away.
  WorkerGroup& Workers() { return m_workers; }
  const std::wstring& ProgramFolder() const { return m_programFolder; }
  std::wstring SettingsPath() const { return m_programFolder + L"\\Setting.ini"; }

  wchar_t m_partitionName[64] = {};
  uint8_t m_partitionType = 255;
  HWND m_hostWnd = nullptr;
  // Written by one thread, polled by another.
  std::atomic<int32_t> m_busy{0};
  std::atomic<int32_t> m_stopRequested{0};

 private:
  template <typename Fn>
  Fn Resolve(const char* name) const;
  void RebuildIndex();

  std::wstring m_programFolder;
  HMODULE m_module = nullptr;
  std::wstring m_previewFile;
  std::wstring m_recoverPath;
  restorix::FolderIndex m_index;
  WorkerGroup m_workers;
};
