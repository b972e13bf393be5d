#include "kernel/TaskControl.h"

#include <cstring>
#include <system_error>

#include "kernel/DelItemRegistry.h"
#include "kernel/Kestrel.h"
#include "kernel/RecoveryWriter.h"
#include "kernel/StopFlag.h"
#include "kernel/device/Enumeration.h"
#include "kernel/device/RawDevice.h"
#include "kernel/ntfs/NTFSVolume.h"
#include "kernel/ntfs/NtfsScan.h"
#include "kernel/ntfs/PathBuilder.h"
#include "kernel/os/Os.h"

namespace kestrel {

std::atomic<int32_t> g_stopRequested{0};

KernelState::KernelState() = default;

// A scan thread left running at process exit must not take the process
// down with std::terminate.
KernelState::~KernelState() {
  if (taskThread.joinable()) taskThread.detach();
}

KernelState& State() {
  static KernelState state;
  return state;
}

namespace {

void JoinTaskThread() {
  KernelState& s = State();
  if (s.taskThread.joinable()) s.taskThread.join();
}

void NtfsScanThread() {
  KernelState& s = State();
  ntfs::ScanRequest request;
  request.letter = s.scanVolume.empty() ? u'\0' : s.scanVolume[0];
  request.prefix = s.scanPrefix;
  request.notifyWindow = s.notifyWindow;
  ntfs::RunDeletedFileScan(request, TheRegistry());
}

void FatScanThread() {
  KernelState& s = State();
  CCustomDrive* volume = s.currentFat;
  if (!volume) return;
  CCustomDirectory* root = volume->RootFolder();
  if (root) {  // a volume whose boot sector could not be read has none
    volume->ResetItemIds();
    root->ClearChildren();
    root->StartScan(1, s.notifyWindow);
    volume->RegisterItems(root, s.scanPrefix, 1);
  }
  os::PostToWindow(s.notifyWindow, KESTREL_WM_CLOSE, 0, 0);
}

template <typename Body>
void StartThread(Body body) {
  KernelState& s = State();
  try {
    s.taskThread = std::thread([body] {
      try {
        body();
      } catch (...) {
        // Nothing may escape a thread: the scan simply ends.
      }
    });
  } catch (const std::system_error&) {
    // No thread, no messages: the task handle stays empty.
  }
}

}  // namespace

void KernelInit(void* window) {
  KernelState& s = State();
  if (window) s.retainedWindow = window;
  if (!s.devices) {
    s.devices = std::make_unique<DeviceList>();
    EnumerateDevices(*s.devices);
  }
  if (!s.fatVolumes && s.devices) {
    s.fatVolumes = std::make_unique<FatVolumeList>();
    for (const auto& entry : *s.devices)
      if (entry && entry->fsKind == kFsFat) DiscoverFatVolumes(*s.fatVolumes, *entry);
  }
}

void KernelUnInit() {
  KernelState& s = State();
  // The volumes are about to go: a scan still running on them must end first.
  if (s.taskThread.joinable()) {
    RequestStop();
    JoinTaskThread();
  }
  TheRegistry().Clear();
  DropRecoveryVolume();
  s.currentFat = nullptr;
  s.currentFatDevice = nullptr;
  // Recoveries after this refer to no scan: the volumes they named are gone.
  s.currentKind = kFsNone;
  s.scanPrefix.clear();
  s.scanVolume.clear();
  s.fatVolumes.reset();
  s.devices.reset();
  // A later SH_Init may see other devices behind the same letters (a
  // re-inserted disk, a new mapping): do not keep reading the old ones.
  CloseReadHandles();
}

int PartitionCount() {
  KernelState& s = State();
  if (!s.devices) return 0;
  int count = 0;
  for (const auto& entry : *s.devices)
    if (entry && entry->kind == kLetteredVolume) ++count;
  return count;
}

int FillPartitionParameter(::PartitionParameter* out, int index) {
  KernelState& s = State();
  if (!s.devices || !out || index < 0) return 0;
  int seen = 0;
  for (const auto& entry : *s.devices) {
    if (!entry || entry->kind != kLetteredVolume) continue;
    if (seen++ != index) continue;
    size_t n = std::min<size_t>(entry->displayName.size(), 63);
    std::memset(out->name, 0, sizeof out->name);
    std::memcpy(out->name, entry->displayName.data(), n * sizeof(char16_t));
    out->sectorCount = entry->totalSectors;
    out->fsKind = entry->fsKind;
    return 1;
  }
  return 0;
}

int FlushVolume(char16_t letter) {
  auto device = os::OpenVolume(letter, os::Access::ReadWrite);
  if (!device) return 0;
  device->Flush();
  return 1;
}

int StartScan(const char16_t* prefix, const char16_t* volume, int mode, void* notifyWindow) {
  if (!prefix || !volume) return 0;
  KernelState& s = State();
  // A scan still running would write the registry while we empty it: stop
  // it and wait for it first.
  if (s.taskThread.joinable()) {
    RequestStop();
    JoinTaskThread();
  }
  TheRegistry().Clear();
  // The new scan may be of another volume, or of this one changed since.
  DropRecoveryVolume();
  FlushVolume(volume[0]);
  if (mode == kFsNtfs) {
    s.scanPrefix = prefix;
    s.scanVolume = volume;
    s.currentKind = kFsNtfs;
    s.notifyWindow = notifyWindow;
    ClearStop();
    StartThread(NtfsScanThread);
  } else if (mode == kFsFat) {
    s.currentFat = nullptr;
    s.currentFatDevice = nullptr;
    if (!s.fatVolumes) return 0;
    for (const auto& v : *s.fatVolumes) {
      if (v && v->Device() && v->Device()->displayName == volume) {
        s.currentFat = v.get();
        s.currentFatDevice = v->Device();
        break;
      }
    }
    if (!s.currentFat) return 0;
    s.scanPrefix = prefix;
    s.scanVolume = volume;
    s.currentKind = kFsFat;
    ClearStop();
    s.notifyWindow = notifyWindow;
    StartThread(FatScanThread);
  }
  return 0;
}

int StopTask() {
  RequestStop();
  JoinTaskThread();
  os::SleepMs(1);
  return 1;
}

void DropRecoveryVolume() {
  KernelState& s = State();
  std::lock_guard<std::mutex> hold(s.recoveryLock);
  s.recoveryPaths.reset();
  s.recoveryVolume.reset();
}

int RecoverItem(const char16_t* folder, uint32_t idLow, uint32_t idHigh) {
  if (!folder) return 0;
  KernelState& s = State();
  std::lock_guard<std::mutex> hold(s.recoveryLock);
  ClearStop();
  if (s.currentKind == kFsNtfs) {
    char16_t letter = s.scanVolume.empty() ? u'\0' : s.scanVolume[0];
    // A volume that did not open is not kept: the next item tries again.
    if (!s.recoveryVolume || !s.recoveryVolume->IsUsable()) {
      s.recoveryPaths.reset();
      s.recoveryVolume = std::make_unique<ntfs::CNTFSVolume>(letter);
      s.recoveryVolume->KeepRecordWindow();  // items come one after another
      s.recoveryPaths = std::make_unique<ntfs::PathBuilder>(*s.recoveryVolume);
    }
    return RecoverNtfsItem(*s.recoveryVolume, folder, (uint64_t{idHigh} << 32) | idLow, s.recoveryPaths.get());
  }
  if (s.currentKind == kFsFat) {
    if (!s.currentFat) return 0;
    return s.currentFat->RecoverItem(s.currentFat->RootFolder(), idLow, idHigh, folder, 1);
  }
  return 0;
}

}  // namespace kestrel
