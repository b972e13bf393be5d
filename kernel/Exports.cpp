// The exported C functions: thin noexcept shims over the kernel, so that no
// exception ever crosses into the host.
#include "kernel/DelItemRegistry.h"
#include "kernel/Kestrel.h"
#include "kernel/TaskControl.h"
#include "kernel/os/Os.h"

namespace {
const char16_t* U16(const KChar* s) { return reinterpret_cast<const char16_t*>(s); }
}  // namespace

extern "C" {

KESTREL_API void KESTREL_CALL SH_Init(KWindow window) noexcept {
  try {
    kestrel::KernelInit(window);
  } catch (...) {
  }
}

KESTREL_API void KESTREL_CALL SH_UnInit(void) noexcept {
  try {
    kestrel::KernelUnInit();
  } catch (...) {
  }
}

KESTREL_API int KESTREL_CALL SH_GetPartitionCount(void) noexcept {
  try {
    return kestrel::PartitionCount();
  } catch (...) {
    return 0;
  }
}

KESTREL_API int KESTREL_CALL SH_GetPartitionParameter(PartitionParameter* out, int index) noexcept {
  try {
    return kestrel::FillPartitionParameter(out, index);
  } catch (...) {
    return 0;
  }
}

KESTREL_API int KESTREL_CALL SH_Scan(const KChar* prefix, const KChar* volume, int mode,
                                     KWindow notifyWindow) noexcept {
  try {
    return kestrel::StartScan(U16(prefix), U16(volume), mode, notifyWindow);
  } catch (...) {
    return 0;
  }
}

KESTREL_API int KESTREL_CALL SH_StopTask(void) noexcept {
  try {
    return kestrel::StopTask();
  } catch (...) {
    return 1;
  }
}

KESTREL_API int KESTREL_CALL SH_RecoveryFile(const KChar* folder, uint32_t idLow,
                                             uint32_t idHigh) noexcept {
  try {
    return kestrel::RecoverItem(U16(folder), idLow, idHigh);
  } catch (...) {
    return 0;
  }
}

KESTREL_API int KESTREL_CALL SH_GetDelItemCount(void) noexcept {
  return static_cast<int>(kestrel::TheRegistry().Count());
}

KESTREL_API int KESTREL_CALL SH_GetDelItemFromIndex(int index, DelItem* out) noexcept {
  if (!out || index < 0) return 0;
  return kestrel::TheRegistry().CopyOut(static_cast<size_t>(index), out) ? 1 : 0;
}

KESTREL_API int KESTREL_CALL SH_GetDelItemFromID(uint32_t idLow, uint32_t idHigh,
                                                 DelItem* out) noexcept {
  return kestrel::TheRegistry().FindById(idLow, idHigh, out) ? 1 : 0;
}

KESTREL_API int KESTREL_CALL KX_MapVolume(KChar letter, const KChar* path) noexcept {
  try {
    std::u16string spec = path ? std::u16string(U16(path)) : std::u16string();
    return kestrel::os::MapVolume(static_cast<char16_t>(letter), spec) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
