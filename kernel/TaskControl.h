// Library-wide state behind the exports: the device and FAT volume lists,
// the last scan's parameters and the one task thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "kernel/CustomDrive.h"
#include "kernel/Kestrel.h"
#include "kernel/device/DeviceEntry.h"

namespace kestrel {
namespace ntfs {
class CNTFSVolume;
class PathBuilder;
}

enum FsKind : int { kFsNone = 0, kFsNtfs = 1, kFsFat = 2 };

struct KernelState {
  void* retainedWindow = nullptr;
  std::unique_ptr<DeviceList> devices;
  std::unique_ptr<FatVolumeList> fatVolumes;
  int currentKind = kFsNone;
  std::u16string scanPrefix;
  std::u16string scanVolume;
  void* notifyWindow = nullptr;
  CCustomDrive* currentFat = nullptr;
  const DeviceEntry* currentFatDevice = nullptr;
  std::thread taskThread;
  // Recoveries are one at a time: the FAT volume's sector caches and the
  // open NTFS volume below are not for two threads at once (a preview may
  // be asked for while a recovery thread runs).
  std::mutex recoveryLock;
  // The NTFS volume of the last scan, opened by the first recovery and kept
  // until the next scan or SH_UnInit.
  std::unique_ptr<ntfs::CNTFSVolume> recoveryVolume;
  std::unique_ptr<ntfs::PathBuilder> recoveryPaths;  // over recoveryVolume

  // A scan thread left running at process exit must not take the process
  // down with std::terminate.
  KernelState();
  ~KernelState();
};

KernelState& State();

void KernelInit(void* window);
void KernelUnInit();
int PartitionCount();
int FillPartitionParameter(::PartitionParameter* out, int index);
int StartScan(const char16_t* prefix, const char16_t* volume, int mode, void* notifyWindow);
int StopTask();
int RecoverItem(const char16_t* folder, uint32_t idLow, uint32_t idHigh);

// FlushFileBuffers on "\\.\X:"; 1 when the volume could be opened.
int FlushVolume(char16_t letter);
// Forgets the open NTFS volume kept for recoveries.
void DropRecoveryVolume();

}  // namespace kestrel
