// The exported C functions: thin noexcept shims over the kernel, so that no
// exception ever crosses into the host.
#include <algorithm>
#include <cstdio>
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

// A partition record from its table entry and what the probe called it
// (empty when no engine reads it).
KX_PartitionInfo PartitionInfoOf(const kestrel::PartitionEntry& e, uint32_t fsKind,
                                 const std::u16string& fileSystem, bool gpt) {
  KX_PartitionInfo info{};
  info.number = static_cast<uint32_t>(e.number);
  info.firstByte = e.firstByte;
  info.bytes = e.bytes;
  info.fsKind = fsKind;
  info.mbrType = e.mbrType;
  std::memcpy(info.gptType, e.gptType.data(), sizeof info.gptType);
  CopyText(fileSystem, info.fileSystem, 16);
  CopyText(kestrel::PartitionTypeName(e), info.typeName, 32);
  CopyText(e.gptName, info.name, 36);
  info.flags = (e.logical ? KX_PART_LOGICAL : 0) | (e.beyondDisk ? KX_PART_BEYOND_DISK : 0) |
               (gpt ? KX_PART_GPT : 0);
  return info;
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
      const bool read = p.probe.Matches();
      CopyRecord(PartitionInfoOf(p.entry, read ? p.probe.fsKind : 0, read ? p.probe.typeName : std::u16string(),
                                 table.kind == kestrel::TableKind::Gpt),
                 &out[i]);
    }
    return static_cast<int>(parts.size());
  } catch (...) {
    return -1;
  }
}

KESTREL_API int KESTREL_CALL KX_GetDiskCount(void) noexcept {
  try {
    return kestrel::DiskCount();
  } catch (...) {
    return 0;
  }
}

KESTREL_API int KESTREL_CALL KX_GetDiskInfo(int index, KX_DiskInfo* out) noexcept {
  try {
    const kestrel::DeviceEntry* disk = kestrel::DiskAt(index);
    if (!disk || !out || out->size < sizeof(uint32_t)) return 0;
    KX_DiskInfo info{};
    info.driveNumber = disk->driveNumber;
    info.totalSectors = disk->totalSectors;
    info.bytesPerSector = disk->bytesPerSector;
    info.mediaClass = disk->mediaClass;
    info.table = disk->tableKind == kestrel::TableKind::Gpt   ? KX_TABLE_GPT
                 : disk->tableKind == kestrel::TableKind::Mbr ? KX_TABLE_MBR
                                                              : KX_TABLE_NONE;
    info.partitions = static_cast<uint32_t>(disk->partitions.size());
    CopyText(disk->displayName, info.name, 64);
    char path[32];
    if (disk->driveNumber >= 128)
      std::snprintf(path, sizeof path, "\\\\.\\PhysicalDrive%d", disk->driveNumber - 128);
    else
      std::snprintf(path, sizeof path, "%c:", disk->driveNumber == 0 ? 'A' : 'B');
    CopyText(std::u16string(path, path + std::strlen(path)), info.path, 32);
    CopyRecord(info, out);
    return 1;
  } catch (...) {
    return 0;
  }
}

KESTREL_API int KESTREL_CALL KX_GetDiskPartitions(int index, KX_PartitionInfo* out, int cap) noexcept {
  try {
    const kestrel::DeviceEntry* disk = kestrel::DiskAt(index);
    if (!disk) return -1;
    const bool gpt = disk->tableKind == kestrel::TableKind::Gpt;
    for (int i = 0; i < cap && out && i < static_cast<int>(disk->partitions.size()); ++i) {
      const kestrel::DevicePartition& p = disk->partitions[static_cast<size_t>(i)];
      if (out[i].size < sizeof(uint32_t)) continue;
      CopyRecord(PartitionInfoOf(p.entry, p.fsKind, p.typeName, gpt), &out[i]);
    }
    return static_cast<int>(disk->partitions.size());
  } catch (...) {
    return -1;
  }
}

}  // extern "C"
