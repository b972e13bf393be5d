// The desktop program's only door to Kestrel.dll: loads it from the program
// folder and resolves each export at every call (a missing one answers 0).
// It is also the sessions' kernel.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/core/SessionKernel.h"
#include "kernel/Kestrel.h"

class KernelLoader : public restorix::SessionKernel {
 public:
  explicit KernelLoader(std::wstring programFolder) : m_programFolder(std::move(programFolder)) {}
  // SH_UnInit and the library's release.
  ~KernelLoader() override;
  KernelLoader(const KernelLoader&) = delete;
  KernelLoader& operator=(const KernelLoader&) = delete;

  int LoadKernel();
  int UnloadKernel();
  bool IsLoaded() const { return m_module != nullptr; }

  int GetPartitionCount();
  int GetPartitionParameter(PartitionParameter* out, int index);
  int GetItemCount();
  int GetItemByIndex(int index, DelItem* out);
  int GetItemById(uint32_t idLow, uint32_t idHigh, DelItem* out);
  int StopTask();
  int RecoverFile(const wchar_t* folder, uint32_t idLow, uint32_t idHigh);
  int Scan(const wchar_t* prefix, const wchar_t* volume, int mode, HWND window);
  // The last scan's KX_SCAN_ code and the kernel's sentence for it; none
  // from a library without the export (an older kernel).
  std::optional<int> GetLastScanStatus(std::wstring& text);
  // Whether the library tells items' states (KX_GetDelItemInfo), and the
  // facts of one item; none without the export or for an unknown id.
  bool HasItemInfo() const;
  std::optional<KX_ItemInfo> GetItemInfo(uint32_t idLow, uint32_t idHigh);
  // Disk images: the table of the disk at `path` (none without the export
  // or when it cannot be read), a letter mapped to "path@OFFSET+LENGTH", and
  // a scan that picks the engine by the volume's own probe.
  std::optional<std::vector<KX_PartitionInfo>> ReadPartitionTable(const std::wstring& path);
  bool MapVolume(wchar_t letter, const std::wstring& spec);
  bool CanStartScan() const;
  int StartScan(const wchar_t* prefix, const wchar_t* volume, int mode, HWND window);
  // How far the running (or last) scan got, as units done of a total (the
  // total 0 while unknown); none without the export.
  struct ScanProgress {
    uint64_t done = 0;
    uint64_t total = 0;
  };
  std::optional<ScanProgress> GetScanProgress();
  // The probe's name for the listed volume at `index`; none without the export.
  std::optional<std::wstring> PartitionTypeName(int index);

  int ItemCount() override { return GetItemCount(); }
  bool ItemAt(int index, restorix::FoundItem& out) override;
  bool RecoverItem(const std::wstring& folder, restorix::ItemId id) override;

 private:
  template <typename Fn>
  Fn Resolve(const char* name) const;

  std::wstring m_programFolder;
  HMODULE m_module = nullptr;
};

// The item's fields as the pages show them (the path's terminator forced).
restorix::FoundItem ToFoundItem(DelItem& record);
