// Kestrel: the recovery kernel's C interface.
//
// Ten SH_ functions plus the KX_ extensions. Every record that crosses this
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


// ---------------------------------------------------------------------------
// Extensions. Everything below is new beside the ten SH_ functions; none of
// it changes what those functions or DelItem do.

// Outcome of the last scan (KX_GetLastScanStatus).
#define KX_SCAN_OK 0                   // walked; the items are what was found
#define KX_SCAN_NOT_SUPPORTED 1        // no file system this kernel reads
#define KX_SCAN_UNSUPPORTED_VARIANT 2  // a known file system in a form not read (which: in the text)
#define KX_SCAN_DAMAGED 3              // the volume cannot be walked (what: in the text)
#define KX_SCAN_READ_ERROR 4           // the device failed (the byte offset: in the text)
#define KX_SCAN_STOPPED 5              // SH_StopTask ended it; the items found so far stay
#define KX_SCAN_RUNNING 6              // a scan is under way
#define KX_SCAN_NONE 7                 // no scan since SH_Init

// The last scan's outcome code; `text` (may be null) receives a sentence a
// user can read, cut to cap - 1 units and terminated.
KESTREL_API int KESTREL_CALL KX_GetLastScanStatus(KChar* text, int cap) KESTREL_NOEXCEPT;

// Scan modes of KX_StartScan.
#define KX_MODE_DELETED 0    // the deleted-file scan SH_Scan runs
#define KX_MODE_DEEP 1       // content (signature) scan of free space
#define KX_MODE_FORMATTED 2  // the previous file system of a quick-formatted volume

// Starts a scan of `volume` in one of the modes above, posting the same
// messages as SH_Scan. Returns 1 when a scan thread was started.
KESTREL_API int KESTREL_CALL KX_StartScan(const KChar* prefix, const KChar* volume, int mode,
                                          KWindow notifyWindow) KESTREL_NOEXCEPT;

// How far the running (or last) scan got: units done of a total (records,
// entries or bytes; the total may be 0 while unknown). Returns 1.
KESTREL_API int KESTREL_CALL KX_GetScanProgress(uint64_t* done, uint64_t* total) KESTREL_NOEXCEPT;

// Recoverability of a found item, from the allocation state on the volume now.
#define KX_STATE_UNKNOWN 0              // the allocation map could not be read
#define KX_STATE_INTACT 1               // none of its clusters is in use now
#define KX_STATE_PARTLY_OVERWRITTEN 2   // some are (overwrittenShare says how much)
#define KX_STATE_OVERWRITTEN 3          // all are, or its first one is
#define KX_STATE_DAMAGED 4              // found by content; failed its own format's checks

#define KX_FLAG_COMPRESSED 0x0001u
#define KX_FLAG_ENCRYPTED 0x0002u
#define KX_FLAG_SPARSE 0x0004u
#define KX_FLAG_RESIDENT 0x0008u
#define KX_FLAG_IN_DELETED_FOLDER 0x0010u
#define KX_FLAG_FRAGMENT_GUESS 0x0020u  // clusters taken around ones in use now
#define KX_FLAG_CARVED 0x0040u          // found by content, not by metadata
#define KX_FLAG_PREVIOUS_FS 0x0080u     // from the file system before a format

// Per-item facts DelItem cannot carry: 48 bytes, little-endian. `size`
// comes first so the record can grow: the caller sets it to the bytes it
// has room for, the kernel fills at most that many and sets it to the
// bytes it filled.
typedef struct KX_ItemInfo {
  uint32_t size;               // offset 0
  uint32_t state;              // offset 4: KX_STATE_*
  uint32_t overwrittenShare;   // offset 8: bytes in clusters in use now, per 10000 of the size
  uint32_t flags;              // offset 12: KX_FLAG_*
  uint64_t recordNumber;       // offset 16: MFT record, or directory entry index on the volume
  uint64_t created;            // offset 24: FILETIME, UTC; 0 when unknown
  uint64_t modified;           // offset 32: FILETIME, UTC
  uint64_t accessed;           // offset 40: FILETIME, UTC
} KX_ItemInfo;

// Fills `out` for the item with this id. 1 when the item exists.
KESTREL_API int KESTREL_CALL KX_GetDelItemInfo(uint32_t idLow, uint32_t idHigh,
                                               KX_ItemInfo* out) KESTREL_NOEXCEPT;

// The volume of the last scan: 184 bytes.
typedef struct KX_VolumeInfo {
  uint32_t size;            // offset 0: as in KX_ItemInfo
  uint32_t sectorBytes;     // offset 4
  uint32_t clusterBytes;    // offset 8
  uint32_t reserved;        // offset 12
  uint64_t totalBytes;      // offset 16
  uint64_t serial;          // offset 24: volume serial number (0 when none)
  KChar fileSystem[16];     // offset 32: "NTFS", "FAT12", "FAT16", "FAT32", "exFAT"
  KChar label[60];          // offset 64: the volume label, may be empty
} KX_VolumeInfo;

// Fills `out` for the volume of the last scan. 1 when a volume was opened.
KESTREL_API int KESTREL_CALL KX_GetVolumeInfo(KX_VolumeInfo* out) KESTREL_NOEXCEPT;

// Outcome of the last SH_RecoveryFile (KX_GetLastRecoveryStatus).
#define KX_RECOVER_OK 0
#define KX_RECOVER_NOT_FOUND 1       // no item with that id, or no scan
#define KX_RECOVER_READ_ERROR 2      // the volume could not be read (offset in the text)
#define KX_RECOVER_NO_SPACE 3
#define KX_RECOVER_PERMISSION 4
#define KX_RECOVER_BAD_NAME 5        // the target refused the name
#define KX_RECOVER_STOPPED 6
#define KX_RECOVER_VOLUME_CHANGED 7  // the volume no longer matches the scan
#define KX_RECOVER_ENCRYPTED 8
#define KX_RECOVER_CORRUPT 9         // the item's data is damaged on disk
#define KX_RECOVER_WRITE_ERROR 10    // any other failure to write

// The last SH_RecoveryFile's outcome code; `text` as in KX_GetLastScanStatus.
KESTREL_API int KESTREL_CALL KX_GetLastRecoveryStatus(KChar* text, int cap) KESTREL_NOEXCEPT;

// The path the last SH_RecoveryFile wrote (its final name, or the
// "<name>.partial" kept of a copy that did not complete). Returns its
// length in units, 0 when nothing was written; cut to cap - 1 and terminated.
KESTREL_API int KESTREL_CALL KX_GetLastOutputPath(KChar* out, int cap) KESTREL_NOEXCEPT;


// One partition of a whole disk or disk image: 224 bytes.
typedef struct KX_PartitionInfo {
  uint32_t size;            // offset 0: as in KX_ItemInfo
  uint32_t number;          // offset 4: as Linux and sfdisk number it: MBR slot 1-4, logical from 5; GPT slot
  uint64_t firstByte;       // offset 8
  uint64_t bytes;           // offset 16: cut to the disk's end when it reaches past it
  uint32_t fsKind;          // offset 24: KESTREL_FS_* by the engines' probes, 0 for none
  uint32_t mbrType;         // offset 28: the MBR type byte, 0 on GPT
  uint8_t gptType[16];      // offset 32: the GPT type GUID as stored
  KChar fileSystem[16];     // offset 48: "NTFS", "FAT32", "exFAT"... or empty
  KChar typeName[32];       // offset 80: "Microsoft basic data", "FAT32"... or empty
  KChar name[36];           // offset 144: the GPT partition name
  uint32_t flags;           // offset 216: KX_PART_*
  uint32_t reserved;        // offset 220
} KX_PartitionInfo;

#define KX_PART_LOGICAL 0x1u      // inside the extended partition chain
#define KX_PART_BEYOND_DISK 0x2u  // the table says it reaches past the disk's end
#define KX_PART_GPT 0x4u          // from a GUID partition table

// Reads the partition table of the disk or disk image at `path` (the same
// forms KX_MapVolume takes). Fills up to `cap` records (each with its size
// set by the caller, as in KX_ItemInfo) and returns how many partitions
// the table has; 0 when there is no table, -1 when `path` cannot be read.
// `note` (may be null) receives what was wrong with the table, if anything.
KESTREL_API int KESTREL_CALL KX_ReadPartitionTable(const KChar* path, KX_PartitionInfo* out, int cap,
                                                   KChar* note, int noteCap) KESTREL_NOEXCEPT;


// What the engines' probe calls the listed volume at `index` (the index of
// SH_GetPartitionParameter): "NTFS", "FAT12", "FAT16", "FAT32", "exFAT".
// Returns its length, 0 for an index beyond the last volume.
KESTREL_API int KESTREL_CALL KX_GetPartitionTypeName(int index, KChar* out, int cap) KESTREL_NOEXCEPT;


// One physical disk of the device list SH_Init built (the lettered volumes
// are SH_GetPartitionParameter's): 224 bytes.
typedef struct KX_DiskInfo {
  uint32_t size;            // offset 0: as in KX_ItemInfo
  uint32_t driveNumber;     // offset 4: 128 + n for disk n; 0 and 1 the floppy drives
  uint64_t totalSectors;    // offset 8
  uint32_t bytesPerSector;  // offset 16
  uint32_t mediaClass;      // offset 20: 0 unknown, 1 floppy, 2 removable, 3 fixed
  uint32_t table;           // offset 24: KX_TABLE_*
  uint32_t partitions;      // offset 28: how many of its partitions an engine reads
  KChar name[64];           // offset 32: "fixed disk #1"
  KChar path[32];           // offset 160: the device path, "\\.\PhysicalDrive0" or "A:"
} KX_DiskInfo;

#define KX_TABLE_NONE 0
#define KX_TABLE_MBR 1
#define KX_TABLE_GPT 2

// How many physical disks the device list holds (0 before SH_Init).
KESTREL_API int KESTREL_CALL KX_GetDiskCount(void) KESTREL_NOEXCEPT;
// Fills disk `index` (0 to KX_GetDiskCount() - 1); 1 on success.
KESTREL_API int KESTREL_CALL KX_GetDiskInfo(int index, KX_DiskInfo* out) KESTREL_NOEXCEPT;
// The partitions of disk `index` an engine reads, numbered as
// KX_ReadPartitionTable numbers them. Fills up to `cap` records (sizes
// set by the caller) and returns how many there are; -1 for no such disk.
KESTREL_API int KESTREL_CALL KX_GetDiskPartitions(int index, KX_PartitionInfo* out, int cap) KESTREL_NOEXCEPT;

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
static_assert(sizeof(KX_ItemInfo) == 48, "KX_ItemInfo is 48 bytes");
static_assert(offsetof(KX_ItemInfo, state) == 4, "KX_ItemInfo.state");
static_assert(offsetof(KX_ItemInfo, overwrittenShare) == 8, "KX_ItemInfo.overwrittenShare");
static_assert(offsetof(KX_ItemInfo, flags) == 12, "KX_ItemInfo.flags");
static_assert(offsetof(KX_ItemInfo, recordNumber) == 16, "KX_ItemInfo.recordNumber");
static_assert(offsetof(KX_ItemInfo, created) == 24, "KX_ItemInfo.created");
static_assert(offsetof(KX_ItemInfo, modified) == 32, "KX_ItemInfo.modified");
static_assert(offsetof(KX_ItemInfo, accessed) == 40, "KX_ItemInfo.accessed");
static_assert(sizeof(KX_VolumeInfo) == 184, "KX_VolumeInfo is 184 bytes");
static_assert(offsetof(KX_VolumeInfo, totalBytes) == 16, "KX_VolumeInfo.totalBytes");
static_assert(offsetof(KX_VolumeInfo, serial) == 24, "KX_VolumeInfo.serial");
static_assert(offsetof(KX_VolumeInfo, fileSystem) == 32, "KX_VolumeInfo.fileSystem");
static_assert(offsetof(KX_VolumeInfo, label) == 64, "KX_VolumeInfo.label");
static_assert(sizeof(KX_PartitionInfo) == 224, "KX_PartitionInfo is 224 bytes");
static_assert(offsetof(KX_PartitionInfo, firstByte) == 8, "KX_PartitionInfo.firstByte");
static_assert(offsetof(KX_PartitionInfo, fsKind) == 24, "KX_PartitionInfo.fsKind");
static_assert(offsetof(KX_PartitionInfo, gptType) == 32, "KX_PartitionInfo.gptType");
static_assert(offsetof(KX_PartitionInfo, fileSystem) == 48, "KX_PartitionInfo.fileSystem");
static_assert(offsetof(KX_PartitionInfo, typeName) == 80, "KX_PartitionInfo.typeName");
static_assert(offsetof(KX_PartitionInfo, name) == 144, "KX_PartitionInfo.name");
static_assert(offsetof(KX_PartitionInfo, flags) == 216, "KX_PartitionInfo.flags");
static_assert(sizeof(KX_DiskInfo) == 224, "KX_DiskInfo is 224 bytes");
static_assert(offsetof(KX_DiskInfo, totalSectors) == 8, "KX_DiskInfo.totalSectors");
static_assert(offsetof(KX_DiskInfo, table) == 24, "KX_DiskInfo.table");
static_assert(offsetof(KX_DiskInfo, name) == 32, "KX_DiskInfo.name");
static_assert(offsetof(KX_DiskInfo, path) == 160, "KX_DiskInfo.path");
static_assert(sizeof(KChar) == 2, "UTF-16 code units");
#endif

#endif  // KESTREL_KESTREL_H
