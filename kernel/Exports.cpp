// The exported C functions: thin noexcept shims over the kernel, so that no
// exception ever crosses into the host.
#include <algorithm>
#include <cstring>

#include "kernel/DelItemRegistry.h"
#include "kernel/Kestrel.h"
#include "kernel/Enumeration.h"
#include "kernel/TaskControl.h"
#include "kernel/os/Os.h"

namespace {
const char16_t* U16(const KChar* s) { return reinterpret_cast<const char16_t*>(s); }

// Copies `text` into a caller's buffer of `cap` units, cut and terminated.
void CopyText(const std::u16string& text, KChar* out, int cap) {
  if (!out || cap <= 0) return;
  size_t n = std::min<size_t>(text.size(), static_cast<size_t>(cap) - 1);
  std::memcpy(out, text.data(), n * sizeof(KChar));
  out[n] = 0;
}

// Fills at most `out->size` bytes of a record whose first field is its size.
template <typename Record>
void CopyRecord(const Record& full, Record* out) {
  uint32_t room = out->size;
  uint32_t n = room < sizeof(Record) ? room : static_cast<uint32_t>(sizeof(Record));
  Record copy = full;
  copy.size = n;
  std::memcpy(out, &copy, n);
}
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

KESTREL_API int KESTREL_CALL KX_GetLastScanStatus(KChar* text, int cap) noexcept {
  try {
    std::u16string message;
    int code = kestrel::LastScanStatus(message);
    CopyText(message, text, cap);
    return code;
  } catch (...) {
    return KX_SCAN_NONE;
  }
}

KESTREL_API int KESTREL_CALL KX_StartScan(const KChar* prefix, const KChar* volume, int mode,
                                          KWindow notifyWindow) noexcept {
  try {
    return kestrel::StartScanAnyEngine(U16(prefix), U16(volume), mode, notifyWindow);
  } catch (...) {
    return 0;
  }
}

KESTREL_API int KESTREL_CALL KX_GetScanProgress(uint64_t* done, uint64_t* total) noexcept {
  const kestrel::ScanProgress& p = kestrel::State().progress;
  if (done) *done = p.done.load(std::memory_order_relaxed);
  if (total) *total = p.total.load(std::memory_order_relaxed);
  return 1;
}

KESTREL_API int KESTREL_CALL KX_GetDelItemInfo(uint32_t idLow, uint32_t idHigh,
                                               KX_ItemInfo* out) noexcept {
  try {
    if (!out || out->size < sizeof(uint32_t)) return 0;
    kestrel::ItemDetails d;
    if (!kestrel::TheRegistry().FindDetails((uint64_t{idHigh} << 32) | idLow, d)) return 0;
    KX_ItemInfo info{};
    info.state = d.state;
    info.overwrittenShare = d.overwrittenShare;
    info.flags = d.flags;
    info.recordNumber = d.recordNumber;
    info.created = d.created;
    info.modified = d.modified;
    info.accessed = d.accessed;
    CopyRecord(info, out);
    return 1;
  } catch (...) {
    return 0;
  }
}

KESTREL_API int KESTREL_CALL KX_GetVolumeInfo(KX_VolumeInfo* out) noexcept {
  try {
    if (!out || out->size < sizeof(uint32_t)) return 0;
    kestrel::VolumeFacts f;
    if (!kestrel::CurrentVolumeFacts(f)) return 0;
    KX_VolumeInfo info{};
    info.sectorBytes = f.sectorBytes;
    info.clusterBytes = f.clusterBytes;
    info.totalBytes = f.totalBytes;
    info.serial = f.serial;
    CopyText(f.fileSystem, info.fileSystem, static_cast<int>(std::size(info.fileSystem)));
    CopyText(f.label, info.label, static_cast<int>(std::size(info.label)));
    CopyRecord(info, out);
    return 1;
  } catch (...) {
    return 0;
  }
}

KESTREL_API int KESTREL_CALL KX_GetLastRecoveryStatus(KChar* text, int cap) noexcept {
  try {
    std::u16string message;
    int code = kestrel::LastRecoveryStatus(message);
    CopyText(message, text, cap);
    return code;
  } catch (...) {
    return KX_RECOVER_WRITE_ERROR;
  }
}

KESTREL_API int KESTREL_CALL KX_GetLastOutputPath(KChar* out, int cap) noexcept {
  try {
    std::u16string path = kestrel::LastOutputPath();
    CopyText(path, out, cap);
    return static_cast<int>(path.size());
  } catch (...) {
    return 0;
  }
}

KESTREL_API int KESTREL_CALL KX_GetPartitionTypeName(int index, KChar* out, int cap) noexcept {
  try {
    std::u16string name;
    if (!kestrel::PartitionTypeName(index, name)) return 0;
    CopyText(name, out, cap);
    return static_cast<int>(name.size());
  } catch (...) {
    return 0;
  }
}

KESTREL_API int KESTREL_CALL KX_ReadPartitionTable(const KChar* path, KX_PartitionInfo* out, int cap,
                                                   KChar* note, int noteCap) noexcept {
  try {
    if (!path) return -1;
    kestrel::PartitionTable table;
    std::vector<kestrel::ProbedPartition> parts;
    if (!kestrel::ReadDiskPartitions(U16(path), table, parts)) return -1;
    CopyText(table.note, note, noteCap);
    for (int i = 0; i < cap && out && i < static_cast<int>(parts.size()); ++i) {
      const kestrel::ProbedPartition& p = parts[static_cast<size_t>(i)];
      if (out[i].size < sizeof(uint32_t)) continue;
      KX_PartitionInfo info{};
      info.number = static_cast<uint32_t>(p.entry.number);
      info.firstByte = p.entry.firstByte;
      info.bytes = p.entry.bytes;
      info.fsKind = p.probe.Matches() ? p.probe.fsKind : 0;
      info.mbrType = p.entry.mbrType;
      std::memcpy(info.gptType, p.entry.gptType.data(), sizeof info.gptType);
      if (p.probe.Matches()) CopyText(p.probe.typeName, info.fileSystem, 16);
      CopyText(kestrel::PartitionTypeName(p.entry), info.typeName, 32);
      CopyText(p.entry.gptName, info.name, 36);
      info.flags = (p.entry.logical ? KX_PART_LOGICAL : 0) | (p.entry.beyondDisk ? KX_PART_BEYOND_DISK : 0) |
                   (table.kind == kestrel::TableKind::Gpt ? KX_PART_GPT : 0);
      CopyRecord(info, &out[i]);
    }
    return static_cast<int>(parts.size());
  } catch (...) {
    return -1;
  }
}

}  // extern "C"
