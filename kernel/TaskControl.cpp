#include "kernel/TaskControl.h"

#include <cstring>
#include <system_error>

#include "kernel/DelItemRegistry.h"
#include "kernel/StopFlag.h"
#include "kernel/Enumeration.h"
#include "kernel/engine/ItemWriter.h"
#include "kernel/os/Os.h"

namespace kestrel {

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

// Two threads may stop or shut down the kernel at once (a window's cancel
// and a console's Ctrl-C): joining is one at a time.
void JoinTaskThread() {
  KernelState& s = State();
  std::lock_guard<std::mutex> hold(s.taskLock);
  if (s.taskThread.joinable()) s.taskThread.join();
}

// Stops a scan still running and waits for it.
void StopAndJoin() {
  KernelState& s = State();
  std::lock_guard<std::mutex> hold(s.taskLock);
  if (s.taskThread.joinable()) {
    RequestStop();
    s.taskThread.join();
  }
}

void SetScanStatus(int code, std::u16string text) {
  KernelState& s = State();
  std::lock_guard<std::mutex> hold(s.statusLock);
  s.scanCode = code;
  s.scanText = std::move(text);
}

// Drops the last scan's engine (waiting for a recovery that uses it).
void DropEngine() {
  KernelState& s = State();
  std::lock_guard<std::mutex> hold(s.recoveryLock);
  s.engine.reset();
  s.facts = VolumeFacts{};
}

// The scan thread: probe, open, scan, keep the engine for recoveries, say
// how it went, and post WM_CLOSE whatever happened.
void ScanThread(VolumeSource source, const ModeEntry* mode) {
  KernelState& s = State();
  Outcome outcome;
  const EngineEntry* engine = nullptr;
  ProbeResult probe = ProbeSource(source, &engine);
  std::unique_ptr<VolumeEngine> opened;
  if (mode) {
    // The volume's own engine, when one opens, gives the mode its map and
    // geometry; a disk without a readable file system is scanned whole.
    std::unique_ptr<VolumeEngine> fileSystem;
    Outcome ignored;
    if (engine && probe.outcome.ok()) fileSystem = engine->open(source, ignored);
    opened = mode->open(source, std::move(fileSystem), outcome);
  } else if (!engine) {
    outcome = probe.outcome.kind == OutcomeKind::ReadError
                  ? probe.outcome
                  : Outcome::NotSupported(u"no NTFS, FAT or exFAT file system was found on it");
  } else if (!probe.outcome.ok()) {
    outcome = probe.outcome;
  } else {
    opened = engine->open(source, outcome);
  }
  if (opened) {
    {
      std::lock_guard<std::mutex> hold(s.recoveryLock);
      s.facts = opened->Facts();
    }
    ScanSink sink(TheRegistry(), s.scanPrefix, s.notifyWindow, &s.progress);
    outcome = opened->Scan(sink);
    if (StopRequested() && outcome.ok()) outcome = Outcome::Stopped();
  } else if (outcome.ok()) {
    outcome = Outcome::Damaged(u"the volume cannot be opened");
  }
  {
    std::lock_guard<std::mutex> hold(s.recoveryLock);
    s.engine = std::move(opened);
  }
  SetScanStatus(static_cast<int>(outcome.kind), outcome.text);
  os::PostToWindow(s.notifyWindow, KESTREL_WM_CLOSE, 0, 0);
}

template <typename Body>
bool StartThread(Body body) {
  KernelState& s = State();
  std::lock_guard<std::mutex> hold(s.taskLock);
  try {
    s.taskThread = std::thread([body] {
      try {
        body();
      } catch (...) {
        // Nothing may escape a thread: the scan ends with its window told.
        SetScanStatus(KX_SCAN_DAMAGED, u"the scan ended unexpectedly (out of memory?)");
        os::PostToWindow(State().notifyWindow, KESTREL_WM_CLOSE, 0, 0);
      }
    });
    return true;
  } catch (const std::system_error&) {
    SetScanStatus(KX_SCAN_DAMAGED, u"no thread could be started for the scan");
    return false;
  }
}

// The listed device a scan names: a lettered volume by its name, or the
// first recognised partition of the kind asked for on a named disk.
bool FindSource(const std::u16string& volume, int mode, VolumeSource& out) {
  KernelState& s = State();
  if (s.devices) {
    for (const auto& entry : *s.devices) {
      if (!entry || entry->displayName != volume) continue;
      if (entry->kind == kLetteredVolume) {
        out = entry->source;
        return true;
      }
      for (const DevicePartition& p : entry->partitions) {
        if (mode == 0 || p.fsKind == mode) {
          out = p.source;
          return true;
        }
      }
    }
  }
  return false;
}

void PrepareScan(const char16_t* prefix, const char16_t* volume) {
  KernelState& s = State();
  // A scan still running would write the registry while we empty it: stop
  // it and wait for it first.
  StopAndJoin();
  TheRegistry().Clear();
  // The new scan may be of another volume, or of this one changed since.
  DropEngine();
  s.progress.done = 0;
  s.progress.total = 0;
  FlushVolume(volume[0]);
}

void Launch(const char16_t* prefix, const char16_t* volume, int kind, void* notifyWindow,
            VolumeSource source, const ModeEntry* mode = nullptr) {
  KernelState& s = State();
  s.scanPrefix = prefix;
  s.scanVolume = volume;
  s.currentKind = kind;
  s.notifyWindow = notifyWindow;
  ClearStop();
  SetScanStatus(KX_SCAN_RUNNING, u"");
  if (!StartThread([source, mode] { ScanThread(source, mode); }))
    os::PostToWindow(notifyWindow, KESTREL_WM_CLOSE, 0, 0);
}

bool IsLetterName(const char16_t* volume) {
  const char16_t c = volume[0];
  return ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z')) && volume[1] == u':';
}

}  // namespace

void KernelInit(void* window) {
  KernelState& s = State();
  if (window) s.retainedWindow = window;
  if (!s.devices) {
    s.devices = std::make_unique<DeviceList>();
    EnumerateDevices(*s.devices);
  }
}

void KernelUnInit() {
  KernelState& s = State();
  // The volumes are about to go: a scan still running on them must end first.
  StopAndJoin();
  TheRegistry().Clear();
  DropEngine();
  // Recoveries after this refer to no scan: the volumes they named are gone.
  s.currentKind = kFsNone;
  s.scanPrefix.clear();
  s.scanVolume.clear();
  s.devices.reset();
  SetScanStatus(KX_SCAN_NONE, u"");
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

int DiskCount() {
  int count = 0;
  while (DiskAt(count)) ++count;
  return count;
}

const DeviceEntry* DiskAt(int index) {
  KernelState& s = State();
  if (!s.devices || index < 0) return nullptr;
  int seen = 0;
  for (const auto& entry : *s.devices) {
    if (!entry || entry->kind != kPhysicalDevice) continue;
    if (seen++ == index) return entry.get();
  }
  return nullptr;
}

bool PartitionTypeName(int index, std::u16string& out) {
  KernelState& s = State();
  if (!s.devices || index < 0) return false;
  int seen = 0;
  for (const auto& entry : *s.devices) {
    if (!entry || entry->kind != kLetteredVolume) continue;
    if (seen++ != index) continue;
    out = entry->typeName;
    return true;
  }
  return false;
}

int FlushVolume(char16_t letter) {
  auto device = os::OpenVolume(letter, os::Access::ReadWrite);
  if (!device) return 0;
  device->Flush();
  return 1;
}

int StartScan(const char16_t* prefix, const char16_t* volume, int mode, void* notifyWindow) {
  if (!prefix || !volume) return 0;
  PrepareScan(prefix, volume);
  if (mode != kFsNtfs && mode != kFsFat) {
    SetScanStatus(KX_SCAN_NOT_SUPPORTED, u"no scan was started: unknown file-system kind");
    return 0;
  }
  VolumeSource source;
  if (!FindSource(volume, mode, source)) {
    // An NTFS scan names its volume by letter; a FAT scan names a listed one.
    if (mode != kFsNtfs || !IsLetterName(volume)) {
      SetScanStatus(KX_SCAN_NOT_SUPPORTED, u"no listed volume has this name");
      return 0;
    }
    source = LetterSource(volume[0]);
  }
  Launch(prefix, volume, mode, notifyWindow, std::move(source));
  return 0;
}

int StartScanAnyEngine(const char16_t* prefix, const char16_t* volume, int mode, void* notifyWindow) {
  if (!prefix || !volume) return 0;
  const ModeEntry* modeEngine = nullptr;
  if (mode != KX_MODE_DELETED) {
    for (const ModeEntry& m : ModeTable())
      if (m.mode == mode) modeEngine = &m;
    if (!modeEngine) return 0;  // a mode this kernel does not have
  }
  PrepareScan(prefix, volume);
  VolumeSource source;
  if (!FindSource(volume, 0, source)) {
    if (!IsLetterName(volume)) {
      SetScanStatus(KX_SCAN_NOT_SUPPORTED, u"no listed volume has this name");
      return 0;
    }
    source = LetterSource(volume[0]);
  }
  Launch(prefix, volume, kFsNone, notifyWindow, std::move(source), modeEngine);
  return 1;
}

int StopTask() {
  RequestStop();
  JoinTaskThread();
  os::SleepMs(1);
  return 1;
}

int RecoverItem(const char16_t* folder, uint32_t idLow, uint32_t idHigh) {
  if (!folder) return 0;
  KernelState& s = State();
  // A recovery never runs beside the scan whose engine it uses.
  {
    std::lock_guard<std::mutex> statusHold(s.statusLock);
    if (s.scanCode == KX_SCAN_RUNNING) {
      std::lock_guard<std::mutex> hold(s.recoveryLock);
      s.lastRecovery = {KX_RECOVER_NOT_FOUND, u"a scan is still running"};
      return 0;
    }
  }
  std::lock_guard<std::mutex> hold(s.recoveryLock);
  ClearStop();
  s.lastOutputPath.clear();
  const uint64_t id = (uint64_t{idHigh} << 32) | idLow;
  DelItem item;
  if (!s.engine || !TheRegistry().FindById(idLow, idHigh, &item)) {
    s.lastRecovery = {KX_RECOVER_NOT_FOUND, u"no item with this id in the last scan"};
    return 0;
  }
  ItemWriter writer(folder);
  s.lastRecovery = s.engine->Recover(id, writer);
  s.lastOutputPath = os::HostPath(writer.OutputPath());
  return s.lastRecovery.ok() ? 1 : 0;
}

int LastScanStatus(std::u16string& text) {
  KernelState& s = State();
  std::lock_guard<std::mutex> hold(s.statusLock);
  text = s.scanText;
  return s.scanCode;
}

int LastRecoveryStatus(std::u16string& text) {
  KernelState& s = State();
  std::lock_guard<std::mutex> hold(s.recoveryLock);
  text = s.lastRecovery.text;
  return s.lastRecovery.code;
}

std::u16string LastOutputPath() {
  KernelState& s = State();
  std::lock_guard<std::mutex> hold(s.recoveryLock);
  return s.lastOutputPath;
}

bool CurrentVolumeFacts(VolumeFacts& out) {
  KernelState& s = State();
  std::lock_guard<std::mutex> hold(s.recoveryLock);
  if (s.facts.fileSystem.empty()) return false;
  out = s.facts;
  return true;
}

}  // namespace kestrel
