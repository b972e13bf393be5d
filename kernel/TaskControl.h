// Library-wide state behind the exports: the device list, the last scan's
// parameters, outcome and engine, and the one task thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "kernel/Kestrel.h"
#include "kernel/device/DeviceEntry.h"
#include "kernel/engine/Engine.h"

namespace kestrel {

enum FsKind : int { kFsNone = 0, kFsNtfs = 1, kFsFat = 2 };

struct KernelState {
  void* retainedWindow = nullptr;
  std::unique_ptr<DeviceList> devices;
  int currentKind = kFsNone;
  std::u16string scanPrefix;
  std::u16string scanVolume;
  void* notifyWindow = nullptr;
  std::thread taskThread;
  std::mutex taskLock;  // guards starting and joining taskThread
  ScanProgress progress;

  // The last scan's outcome (KX_GetLastScanStatus).
  std::mutex statusLock;
  int scanCode = KX_SCAN_NONE;
  std::u16string scanText;

  // Recoveries are one at a time and never overlap a scan: the engine of
  // the last scan serves them and is not for two threads at once (a
  // preview may be asked for while a recovery thread runs).
  std::mutex recoveryLock;
  std::unique_ptr<VolumeEngine> engine;  // kept until the next scan or SH_UnInit
  VolumeFacts facts;
  RecoverResult lastRecovery{KX_RECOVER_NOT_FOUND, u"nothing was recovered yet"};
  std::u16string lastOutputPath;

  // A scan thread left running at process exit must not take the process
  // down with std::terminate.
  KernelState();
  ~KernelState();
};

KernelState& State();

void KernelInit(void* window);
void KernelUnInit();
int PartitionCount();
// The physical disks of the device list, in its order; null past the last.
int DiskCount();
const DeviceEntry* DiskAt(int index);
int FillPartitionParameter(::PartitionParameter* out, int index);
bool PartitionTypeName(int index, std::u16string& out);
int StartScan(const char16_t* prefix, const char16_t* volume, int mode, void* notifyWindow);
// KX_StartScan: any engine, chosen by the volume's own probe.
int StartScanAnyEngine(const char16_t* prefix, const char16_t* volume, int mode, void* notifyWindow);
int StopTask();
int RecoverItem(const char16_t* folder, uint32_t idLow, uint32_t idHigh);

int LastScanStatus(std::u16string& text);
int LastRecoveryStatus(std::u16string& text);
std::u16string LastOutputPath();
bool CurrentVolumeFacts(VolumeFacts& out);

// FlushFileBuffers on "\\.\X:"; 1 when the volume could be opened.
int FlushVolume(char16_t letter);

}  // namespace kestrel
