// Kestrel: the recovery kernel's C interface.
//
// Ten SH_ functions plus KX_MapVolume. Every record that crosses this
// boundary is a caller-owned fixed-size buffer; the kernel never hands out a
// pointer into its own memory and never throws across it.
#ifndef KESTREL_KESTREL_H
#define KESTREL_KESTREL_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(KESTREL_BUILDING)
#    define KESTREL_API __declspec(dllexport)
#  else
#    define KESTREL_API __declspec(dllimport)
#  endif
#  define KESTREL_CALL __cdecl
typedef wchar_t KChar;  // UTF-16 on Windows
typedef void* KWindow;  // HWND
#else
#  define KESTREL_API __attribute__((visibility("default")))
#  define KESTREL_CALL
typedef char16_t KChar;
typedef void* KWindow;  // points to a KestrelSink
#endif

#ifdef __cplusplus
#  define KESTREL_NOEXCEPT noexcept
extern "C" {
#else
#  define KESTREL_NOEXCEPT
#endif

// Messages the scan thread posts to its notify window.
#define KESTREL_WM_CLOSE 0x0010u
#define KESTREL_WM_SCAN_FOUND_COUNT 0x07F3u

// FsKind codes.
#define KESTREL_FS_NONE 0
#define KESTREL_FS_NTFS 1
#define KESTREL_FS_FAT 2

// Found item: 2072 bytes, little-endian, no padding.
typedef struct DelItem {
  KChar path[1024];      // offset 0: UTF-16, null-terminated, at most 1023 units
  uint32_t idLow;       // offset 2048
  uint32_t idHigh;      // offset 2052
  uint64_t size;        // offset 2056
  uint64_t modified;    // offset 2064: FILETIME in local time
} DelItem;

// Partition record: 144 bytes.
typedef struct PartitionParameter {
  KChar name[64];          // offset 0: UTF-16, null-terminated (such as C:)
  uint64_t sectorCount;    // offset 128
  uint8_t fsKind;          // offset 136: 1 NTFS, 2 FAT
  uint8_t reserved[7];     // offset 137: not written
} PartitionParameter;

#if !defined(_WIN32)
// On POSIX a window handle is a pointer to one of these; the kernel calls
// post() from its scan thread for every message it would post on Windows.
typedef struct KestrelSink {
  void (*post)(void* context, uint32_t message, uintptr_t wParam, intptr_t lParam);
  void* context;
} KestrelSink;
#endif

KESTREL_API void KESTREL_CALL SH_Init(KWindow window) KESTREL_NOEXCEPT;
KESTREL_API void KESTREL_CALL SH_UnInit(void) KESTREL_NOEXCEPT;
KESTREL_API int KESTREL_CALL SH_GetPartitionCount(void) KESTREL_NOEXCEPT;
KESTREL_API int KESTREL_CALL SH_GetPartitionParameter(PartitionParameter* out, int index) KESTREL_NOEXCEPT;
KESTREL_API int KESTREL_CALL SH_Scan(const KChar* prefix, const KChar* volume, int mode,
                                     KWindow notifyWindow) KESTREL_NOEXCEPT;
KESTREL_API int KESTREL_CALL SH_StopTask(void) KESTREL_NOEXCEPT;
KESTREL_API int KESTREL_CALL SH_RecoveryFile(const KChar* folder, uint32_t idLow,
                                             uint32_t idHigh) KESTREL_NOEXCEPT;
KESTREL_API int KESTREL_CALL SH_GetDelItemCount(void) KESTREL_NOEXCEPT;
KESTREL_API int KESTREL_CALL SH_GetDelItemFromIndex(int index, DelItem* out) KESTREL_NOEXCEPT;
KESTREL_API int KESTREL_CALL SH_GetDelItemFromID(uint32_t idLow, uint32_t idHigh, DelItem* out) KESTREL_NOEXCEPT;

// Maps a drive letter to a disk image or device before SH_Init. The path may
// end in "@OFFSET" or "@OFFSET+LENGTH" (bytes) to expose one partition of a
// whole-disk image as the volume. A null or empty path removes the mapping.
// Returns 1 on success, 0 for a letter outside A..Z.
KESTREL_API int KESTREL_CALL KX_MapVolume(KChar letter, const KChar* path) KESTREL_NOEXCEPT;

#ifdef __cplusplus
}  // extern "C"

static_assert(sizeof(DelItem) == 2072, "DelItem is 2072 bytes");
static_assert(offsetof(DelItem, path) == 0, "DelItem.path");
static_assert(offsetof(DelItem, idLow) == 2048, "DelItem.idLow");
static_assert(offsetof(DelItem, idHigh) == 2052, "DelItem.idHigh");
static_assert(offsetof(DelItem, size) == 2056, "DelItem.size");
static_assert(offsetof(DelItem, modified) == 2064, "DelItem.modified");
static_assert(sizeof(PartitionParameter) == 144, "PartitionParameter is 144 bytes");
static_assert(offsetof(PartitionParameter, name) == 0, "PartitionParameter.name");
static_assert(offsetof(PartitionParameter, sectorCount) == 128, "PartitionParameter.sectorCount");
static_assert(offsetof(PartitionParameter, fsKind) == 136, "PartitionParameter.fsKind");
static_assert(sizeof(KChar) == 2, "UTF-16 code units");
#endif

#endif  // KESTREL_KESTREL_H
