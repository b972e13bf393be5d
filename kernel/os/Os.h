// The kernel's only door to the operating system.
//
// Everything above kernel/os/ is portable C++: it opens devices, asks for
// geometry, posts messages and writes output files through these calls.
// OsWin32.cpp is the real implementation inside Kestrel.dll; OsPosix.cpp
// serves the Linux builds, the tests and the Linux command-line tool.
//
// Paths handed to this layer are kernel paths: UTF-16 with "\" between
// components. On POSIX the layer turns every "\" into "/".
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "kernel/os/Utf.h"

namespace kestrel::os {

// What IOCTL_DISK_GET_DRIVE_GEOMETRY reports.
struct DiskGeometry {
  uint64_t cylinders = 0;
  uint32_t mediaType = 0;  // MEDIA_TYPE
  uint32_t tracksPerCylinder = 0;
  uint32_t sectorsPerTrack = 0;
  uint32_t bytesPerSector = 0;
};

enum class Access {
  Query,      // no data access: geometry and media checks only
  Read,       // raw reads
  ReadWrite,  // only for flushing a volume's buffers; never used to write
};

// GetDriveTypeW codes.
enum DriveType : uint32_t {
  kDriveUnknown = 0,
  kDriveNoRoot = 1,
  kDriveRemovable = 2,
  kDriveFixed = 3,
  kDriveRemote = 4,
  kDriveCdrom = 5,
  kDriveRamdisk = 6,
};

// An open device, volume or image. Closed by its destructor.
class Device {
 public:
  virtual ~Device() = default;
  // One read at a byte offset. Returns false on an I/O error; `got` may be
  // less than `length` at the end of the device.
  virtual bool ReadAt(uint64_t offset, void* buffer, size_t length, size_t& got) = 0;
  virtual bool Flush() = 0;
  // The device's geometry; false where the system cannot tell (always for
  // mapped images, and under Wine).
  virtual bool QueryGeometry(DiskGeometry& out) = 0;
  // IOCTL_STORAGE_CHECK_VERIFY: is there a medium in the drive?
  virtual bool CheckVerify() = 0;
  // Bytes the device or image holds; false where the system cannot tell.
  virtual bool QuerySize(uint64_t& bytes) {
    bytes = 0;
    return false;
  }
};

// Opens "\\.\X:" (or the image mapped to X). Null when it cannot be opened.
std::unique_ptr<Device> OpenVolume(char16_t letter, Access access);
// Opens a disk image, a device path or "path@OFFSET+LENGTH", for reading.
std::unique_ptr<Device> OpenImagePath(const std::u16string& spec);
// Opens "\\.\PhysicalDriveN" (or the image mapped to that number).
std::unique_ptr<Device> OpenPhysicalDrive(int number, Access access);

DriveType QueryDriveType(char16_t letter);
// The file-system name the system reports for "X:\". False when it cannot
// tell, which is always so for mapped letters: callers then look at the
// volume's boot sector themselves.
bool GetFileSystemName(char16_t letter, std::u16string& name);

// The volume table. A path may end in "@OFFSET" or "@OFFSET+LENGTH".
bool MapVolume(char16_t letter, const std::u16string& path);
bool MapPhysicalDrive(int number, const std::u16string& path);
bool IsVolumeMapped(char16_t letter);
void ClearMappings();

// Posts a message to the host window (PostMessageW on Windows; the
// KestrelSink on POSIX). A null window is ignored.
void PostToWindow(void* window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// FILETIME in UTC to FILETIME in local time. False when it cannot convert.
bool FileTimeToLocal(uint64_t utc, uint64_t& local);
// The reverse; for tests and the command-line tool.
bool LocalFileTimeToUtc(uint64_t local, uint64_t& utc);

// Creates a folder and every missing parent. True when it exists afterwards.
bool CreateFolderChain(const std::u16string& path);

// Why a file operation failed.
enum class FileError {
  None,
  Exists,      // the name is taken
  NotFound,    // a folder on the way is missing
  NoSpace,     // the disk or a quota is full, or the file may not be that long
  Permission,  // access denied, read-only file system
  BadName,     // the target refuses the name
  Other,
};

// An output file. Closed by its destructor.
class OutputFile {
 public:
  virtual ~OutputFile() = default;
  // Why the last Write, SkipZeros or Close failed.
  virtual FileError LastError() const = 0;
  virtual bool Write(const void* data, size_t length) = 0;
  // Moves on by `bytes` that read as zeros, leaving a hole where the file
  // system can; the file reaches that length by Close at the latest.
  // False when the file cannot be that long.
  virtual bool SkipZeros(uint64_t bytes) = 0;
  // Flushes and closes; false when anything written was lost.
  virtual bool Close() = 0;
};
// Creates or truncates (tests and tools only: recoveries never truncate).
std::unique_ptr<OutputFile> CreateOutputFile(const std::u16string& path);
// Creates a file that did not exist (O_EXCL / CREATE_NEW). Null with the
// reason in `error` otherwise; Exists when the name is taken.
std::unique_ptr<OutputFile> CreateNewFile(const std::u16string& path, FileError& error);
// Renames a file to a name nobody has; Exists when the name is taken,
// which is never replaced.
FileError RenameNoReplace(const std::u16string& from, const std::u16string& to);
bool RemoveFile(const std::u16string& path);
// A kernel path as the system writes it ("/" between components on POSIX).
std::u16string HostPath(const std::u16string& path);

void SleepMs(unsigned milliseconds);


}  // namespace kestrel::os
