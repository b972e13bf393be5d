// Win32 side of the OS layer: real device paths, plus the letters and drive
// numbers mapped to image files.
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "kernel/os/Os.h"
#include "kernel/os/VolumeTable.h"

namespace kestrel::os {
namespace {

const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

// Output paths can pass MAX_PATH (1023-unit item paths under a folder): give
// long absolute paths the "\\?\" form, which lifts that limit.
std::u16string LongPath(const std::u16string& path) {
  if (path.size() < 240) return path;
  std::u16string p = path;
  for (char16_t& c : p)
    if (c == u'/') c = u'\\';
  if (p.rfind(u"\\\\?\\", 0) == 0) return p;
  if (p.size() >= 3 && p[1] == u':' && p[2] == u'\\') return u"\\\\?\\" + p;
  if (p.rfind(u"\\\\", 0) == 0) return u"\\\\?\\UNC\\" + p.substr(2);
  return p;
}

// Device paths are formatted as narrow text and widened with the ANSI code page.
std::wstring WidenAnsi(const char* narrow) {
  wchar_t wide[64] = {};
  MultiByteToWideChar(CP_ACP, 0, narrow, -1, wide, static_cast<int>(std::size(wide)));
  return wide;
}

DWORD DesiredAccess(Access access) {
  switch (access) {
    case Access::Query: return 0;
    case Access::Read: return GENERIC_READ;
    case Access::ReadWrite: return GENERIC_READ | GENERIC_WRITE;
  }
  return 0;
}

class Win32Device final : public Device {
 public:
  Win32Device(HANDLE handle, MappedImage image, bool mapped)
      : handle_(handle), image_(std::move(image)), mapped_(mapped) {}
  ~Win32Device() override { CloseHandle(handle_); }

  bool ReadAt(uint64_t offset, void* buffer, size_t length, size_t& got) override {
    return ReadInsideImage(image_, offset, length, got,
                           [&](uint64_t absolute, size_t len, size_t& done) {
                             done = 0;
                             auto* out = static_cast<uint8_t*>(buffer);
                             while (done < len) {
                               OVERLAPPED at = {};
                               uint64_t pos = absolute + done;
                               at.Offset = static_cast<DWORD>(pos);
                               at.OffsetHigh = static_cast<DWORD>(pos >> 32);
                               DWORD want = static_cast<DWORD>(
                                   std::min<size_t>(len - done, 0x40000000u));
                               DWORD n = 0;
                               if (!ReadFile(handle_, out + done, want, &n, &at)) {
                                 if (GetLastError() == ERROR_HANDLE_EOF) break;
                                 return false;
                               }
                               if (n == 0) break;
                               done += n;
                             }
                             return true;
                           });
  }
  bool Flush() override { return mapped_ ? true : FlushFileBuffers(handle_) != 0; }
  bool QueryGeometry(DiskGeometry& out) override {
    if (mapped_) return false;
    DISK_GEOMETRY g = {};
    DWORD bytes = 0;
    if (!DeviceIoControl(handle_, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &g, sizeof(g),
                         &bytes, nullptr)) {
      out.mediaType = 0;
      return false;
    }
    out.cylinders = static_cast<uint64_t>(g.Cylinders.QuadPart);
    out.mediaType = static_cast<uint32_t>(g.MediaType);
    out.tracksPerCylinder = g.TracksPerCylinder;
    out.sectorsPerTrack = g.SectorsPerTrack;
    out.bytesPerSector = g.BytesPerSector;
    return true;
  }
  bool CheckVerify() override {
    if (mapped_) return true;
    DWORD bytes = 0;
    return DeviceIoControl(handle_, IOCTL_STORAGE_CHECK_VERIFY, nullptr, 0, nullptr, 0, &bytes,
                           nullptr) != 0;
  }
  bool QuerySize(uint64_t& bytes) override {
    bytes = 0;
    uint64_t all = 0;
    LARGE_INTEGER size;
    GET_LENGTH_INFORMATION length;
    DWORD got = 0;
    if (GetFileSizeEx(handle_, &size) && size.QuadPart > 0) {
      all = static_cast<uint64_t>(size.QuadPart);
    } else if (DeviceIoControl(handle_, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length,
                               sizeof length, &got, nullptr)) {
      all = static_cast<uint64_t>(length.Length.QuadPart);
    } else {
      return false;
    }
    const uint64_t from = std::min<uint64_t>(image_.offset, all);
    bytes = image_.length != 0 ? std::min<uint64_t>(image_.length, all - from) : all - from;
    return true;
  }

 private:
  HANDLE handle_;
  MappedImage image_;
  bool mapped_;
};

std::unique_ptr<Device> OpenMapped(const MappedImage& image) {
  if (image.memory) return OpenMemoryImage(image);
  // A mapped image is only ever read, whatever access the caller asked for.
  HANDLE h = CreateFileW(W(image.path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32Device>(h, image, true);
}

std::unique_ptr<Device> OpenDevicePath(const std::wstring& path, Access access) {
  DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  DWORD flags = access == Access::ReadWrite ? (FILE_FLAG_NO_BUFFERING | FILE_ATTRIBUTE_NORMAL)
                                            : FILE_ATTRIBUTE_NORMAL;
  HANDLE h = CreateFileW(path.c_str(), DesiredAccess(access), share, nullptr, OPEN_EXISTING, flags,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32Device>(h, MappedImage{}, false);
}

}  // namespace

std::unique_ptr<Device> OpenVolume(char16_t letter, Access access) {
  if (auto image = FindVolumeMapping(letter)) return OpenMapped(*image);
  char narrow[16];
  std::snprintf(narrow, sizeof narrow, "\\\\.\\%c:", static_cast<char>(letter));
  return OpenDevicePath(WidenAnsi(narrow), access);
}

std::unique_ptr<Device> OpenImagePath(const std::u16string& spec) {
  auto image = ParseMappedImage(spec);
  return image ? OpenMapped(*image) : nullptr;
}

std::unique_ptr<Device> OpenPhysicalDrive(int number, Access access) {
  if (auto image = FindPhysicalMapping(number)) return OpenMapped(*image);
  char narrow[32];
  std::snprintf(narrow, sizeof narrow, "\\\\.\\PhysicalDrive%d", number);
  return OpenDevicePath(WidenAnsi(narrow), access);
}

DriveType QueryDriveType(char16_t letter) {
  if (FindVolumeMapping(letter)) return kDriveFixed;
  wchar_t root[] = {static_cast<wchar_t>(letter), L':', L'\\', 0};
  return static_cast<DriveType>(GetDriveTypeW(root));
}

bool GetFileSystemName(char16_t letter, std::u16string& name) {
  if (FindVolumeMapping(letter)) return false;
  wchar_t root[] = {static_cast<wchar_t>(letter), L':', L'\\', 0};
  wchar_t volumeName[MAX_PATH + 1] = {};
  wchar_t fsName[MAX_PATH + 1] = {};
  if (!GetVolumeInformationW(root, volumeName, static_cast<DWORD>(std::size(volumeName)), nullptr,
                             nullptr, nullptr, fsName, static_cast<DWORD>(std::size(fsName))))
    return false;
  name.assign(reinterpret_cast<const char16_t*>(fsName));
  return true;
}

bool MapVolume(char16_t letter, const std::u16string& path) { return SetVolumeMapping(letter, path); }
bool MapPhysicalDrive(int number, const std::u16string& path) {
  return SetPhysicalMapping(number, path);
}
bool IsVolumeMapped(char16_t letter) { return FindVolumeMapping(letter).has_value(); }
void ClearMappings() { ClearAllMappings(); }

void PostToWindow(void* window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (window) PostMessageW(static_cast<HWND>(window), message, wParam, lParam);
}

bool FileTimeToLocal(uint64_t utc, uint64_t& local) {
  FILETIME in, out;
  in.dwLowDateTime = static_cast<DWORD>(utc);
  in.dwHighDateTime = static_cast<DWORD>(utc >> 32);
  if (!FileTimeToLocalFileTime(&in, &out)) return false;
  local = (uint64_t{out.dwHighDateTime} << 32) | out.dwLowDateTime;
  return true;
}

bool LocalFileTimeToUtc(uint64_t local, uint64_t& utc) {
  FILETIME in, out;
  in.dwLowDateTime = static_cast<DWORD>(local);
  in.dwHighDateTime = static_cast<DWORD>(local >> 32);
  if (!LocalFileTimeToFileTime(&in, &out)) return false;
  utc = (uint64_t{out.dwHighDateTime} << 32) | out.dwLowDateTime;
  return true;
}

bool CreateFolderChain(const std::u16string& path) {
  std::u16string p = path;
  while (p.size() > 3 && (p.back() == u'\\' || p.back() == u'/')) p.pop_back();
  // Walk the components ourselves rather than through the shell: no COM, no
  // window, and a clear answer.
  for (size_t i = 0; i <= p.size(); ++i) {
    if (i == p.size() || p[i] == u'\\' || p[i] == u'/') {
      std::u16string part = p.substr(0, i);
      if (part.empty() || part.back() == u':' || part == u"\\" || part == u"\\\\") continue;
      std::u16string target = LongPath(part);
      DWORD attr = GetFileAttributesW(W(target));
      if (attr != INVALID_FILE_ATTRIBUTES) continue;
      if (!CreateDirectoryW(W(target), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        // "\\server\share" and "\\?\" prefixes cannot be created; go on.
        continue;
      }
    }
  }
  DWORD attr = GetFileAttributesW(W(LongPath(p)));
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY);
}

namespace {
FileError ErrorFromWin32(DWORD e) {
  switch (e) {
    case ERROR_SUCCESS: return FileError::None;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return FileError::Exists;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND: return FileError::NotFound;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_FILE_TOO_LARGE: return FileError::NoSpace;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_SHARING_VIOLATION: return FileError::Permission;
    case ERROR_INVALID_NAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY: return FileError::BadName;
    default: return FileError::Other;
  }
}

class Win32OutputFile final : public OutputFile {
 public:
  explicit Win32OutputFile(HANDLE h) : handle_(h) {}
  ~Win32OutputFile() override { Close(); }
  bool Write(const void* data, size_t length) override {
    const auto* p = static_cast<const uint8_t*>(data);
    while (length > 0) {
      DWORD want = static_cast<DWORD>(std::min<size_t>(length, 0x40000000u));
      DWORD n = 0;
      if (!WriteFile(handle_, p, want, &n, nullptr) || n == 0) {
        Failed(GetLastError());
        return false;
      }
      p += n;
      length -= n;
    }
    extendPending_ = false;
    return true;
  }
  bool SkipZeros(uint64_t bytes) override {
    if (!sparse_) {
      // Best effort: without the sparse mark the hole is allocated, but
      // reads as zeros all the same.
      DWORD unused = 0;
      DeviceIoControl(handle_, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &unused, nullptr);
      sparse_ = true;
    }
    LARGE_INTEGER move;
    if (bytes > static_cast<uint64_t>(INT64_MAX)) {
      Failed(ERROR_FILE_TOO_LARGE);
      return false;
    }
    move.QuadPart = static_cast<LONGLONG>(bytes);
    if (!SetFilePointerEx(handle_, move, nullptr, FILE_CURRENT)) {
      Failed(GetLastError());
      return false;
    }
    extendPending_ = true;
    return true;
  }
  bool Close() override {
    if (handle_ != INVALID_HANDLE_VALUE) {
      // A hole at the end gives the file its length only when it is set.
      if (extendPending_ && !SetEndOfFile(handle_)) Failed(GetLastError());
      if (!CloseHandle(handle_)) Failed(GetLastError());
      handle_ = INVALID_HANDLE_VALUE;
    }
    return !failed_;
  }

 FileError LastError() const override { return error_; }

 private:
  void Failed(DWORD e) {
    failed_ = true;
    error_ = ErrorFromWin32(e);
    if (error_ == FileError::None) error_ = FileError::Other;
  }

  HANDLE handle_;
  bool failed_ = false;
  FileError error_ = FileError::None;
  bool sparse_ = false;
  bool extendPending_ = false;
};
}  // namespace

std::unique_ptr<OutputFile> CreateOutputFile(const std::u16string& path) {
  HANDLE h = CreateFileW(W(LongPath(path)), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32OutputFile>(h);
}

std::unique_ptr<OutputFile> CreateNewFile(const std::u16string& path, FileError& error) {
  HANDLE h = CreateFileW(W(LongPath(path)), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = ErrorFromWin32(GetLastError());
    if (error == FileError::None) error = FileError::Other;
    return nullptr;
  }
  error = FileError::None;
  return std::make_unique<Win32OutputFile>(h);
}

FileError RenameNoReplace(const std::u16string& from, const std::u16string& to) {
  // Without MOVEFILE_REPLACE_EXISTING an existing target is never replaced.
  if (MoveFileExW(W(LongPath(from)), W(LongPath(to)), 0)) return FileError::None;
  return ErrorFromWin32(GetLastError());
}

std::u16string HostPath(const std::u16string& path) { return path; }

bool RemoveFile(const std::u16string& path) { return DeleteFileW(W(LongPath(path))) != 0; }

void SleepMs(unsigned milliseconds) { Sleep(milliseconds); }

}  // namespace kestrel::os
