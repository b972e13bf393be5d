// Library-wide state behind the exports: the device and FAT volume lists,
// the last scan's parameters and the one task thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "kernel/CustomDrive.h"
#include "kernel/Kestrel.h"
#include "kernel/device/DeviceEntry.h"

namespace kestrel {

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

  // A scan thread left running at process exit must not take the process
  // down with std::terminate.
  ~KernelState() {
    if (taskThread.joinable()) taskThread.detach();
  }
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

}  // namespace kestrel
