// What the program remembers between its pages: the chosen partition, the
// file the preview page shows, the last scan's folder index, and two flags
// that workers and the window thread share (a task is busy in the kernel;
// a stop was asked for).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "app/core/FolderIndex.h"
#include "app/core/ScanModes.h"

namespace restorix {

class AppState {
 public:
  // The partition's name is kept to 63 units, as the kernel's records hold.
  // Each call is a new scan's start: it counts as a new scan generation.
  void SetCurrentPartition(const std::wstring& name, uint8_t fsKind);
  // Grows with every partition chosen, so a page filled from the items of
  // an earlier scan can tell that they are gone.
  uint64_t ScanGeneration() const { return m_scanGeneration.load(); }
  std::wstring PartitionName() const;
  uint8_t PartitionType() const;
  // The disk image file whose partition the chosen letter maps; empty for
  // a volume of the system.
  void SetImageFile(const std::wstring& path);
  std::wstring ImageFile() const;

  // The mode the next scan runs in; chosen by the tabs, on the window
  // thread only.
  ScanMode Mode() const { return m_mode; }
  void SetMode(ScanMode mode) { m_mode = mode; }

  void SetPreviewFile(const std::wstring& path);
  std::wstring PreviewFile() const;

  // Written on the window thread only, after a scan.
  FolderIndex& Index() { return m_index; }
  const FolderIndex& Index() const { return m_index; }

  bool Busy() const { return m_busy.load() != 0; }
  void SetBusy(bool busy) { m_busy = busy ? 1 : 0; }
  bool StopRequested() const { return m_stopRequested.load() != 0; }
  void RequestStop() { m_stopRequested = 1; }
  void ClearStop() { m_stopRequested = 0; }

 private:
  static constexpr size_t kMaxPartitionName = 63;
  mutable std::mutex m_lock;  // the strings
  std::wstring m_partitionName;
  uint8_t m_partitionType = 255;
  std::wstring m_previewFile;
  std::wstring m_imageFile;
  FolderIndex m_index;
  ScanMode m_mode = ScanMode::Deleted;
  std::atomic<uint64_t> m_scanGeneration{0};
  std::atomic<int32_t> m_busy{0};
  std::atomic<int32_t> m_stopRequested{0};
};

}  // namespace restorix
