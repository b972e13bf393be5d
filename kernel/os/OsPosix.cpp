// POSIX side of the OS layer: only mapped letters and drive numbers exist.
#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "kernel/Kestrel.h"
#include "kernel/os/Os.h"
#include "kernel/os/VolumeTable.h"

namespace kestrel::os {
namespace {

void LoadEnvironmentOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    const char* list = std::getenv("KESTREL_VOLUMES");
    if (list) LoadMappingList(list);
  });
}

std::string NativePath(const std::u16string& path) {
  std::u16string p = path;
  for (char16_t& c : p)
    if (c == u'\\') c = u'/';
  return ToHostBytes(p);  // host folders arrive escaped by FromHostBytes
}

class PosixDevice final : public Device {
 public:
  PosixDevice(int fd, MappedImage image) : fd_(fd), image_(std::move(image)) {}
  ~PosixDevice() override { ::close(fd_); }

  bool ReadAt(uint64_t offset, void* buffer, size_t length, size_t& got) override {
    return ReadInsideImage(image_, offset, length, got,
                           [&](uint64_t absolute, size_t len, size_t& done) {
                             done = 0;
                             auto* out = static_cast<uint8_t*>(buffer);
                             while (done < len) {
                               ssize_t n = ::pread(fd_, out + done, len - done,
                                                   static_cast<off_t>(absolute + done));
                               if (n < 0) {
                                 if (errno == EINTR) continue;
                                 return false;
                               }
                               if (n == 0) break;
                               done += static_cast<size_t>(n);
                             }
                             return true;
                           });
  }
  bool Flush() override { return ::fsync(fd_) == 0 || errno == EINVAL || errno == EROFS; }
  // An image has no drive geometry; callers fall back on the boot sector.
  bool QueryGeometry(DiskGeometry&) override { return false; }
  bool CheckVerify() override { return true; }
  bool QuerySize(uint64_t& bytes) override {
    bytes = 0;
    struct stat st;
    if (::fstat(fd_, &st) != 0) return false;
    uint64_t all = 0;
    if (S_ISBLK(st.st_mode)) {
      if (::ioctl(fd_, BLKGETSIZE64, &all) != 0) return false;
    } else {
      all = static_cast<uint64_t>(st.st_size);
    }
    const uint64_t from = std::min<uint64_t>(image_.offset, all);
    bytes = image_.length != 0 ? std::min<uint64_t>(image_.length, all - from) : all - from;
    return true;
  }

 private:
  int fd_;
  MappedImage image_;
};

std::unique_ptr<Device> OpenImage(const std::optional<MappedImage>& image) {
  if (!image) return nullptr;
  if (image->memory) return OpenMemoryImage(*image);
  // Scanned media are only ever read: even a flush request opens read-only.
  int fd = ::open(NativePath(image->path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  return std::make_unique<PosixDevice>(fd, *image);
}

}  // namespace

std::unique_ptr<Device> OpenVolume(char16_t letter, Access) {
  LoadEnvironmentOnce();
  return OpenImage(FindVolumeMapping(letter));
}

std::unique_ptr<Device> OpenImagePath(const std::u16string& spec) {
  return OpenImage(ParseMappedImage(spec));
}

std::unique_ptr<Device> OpenPhysicalDrive(int number, Access) {
  LoadEnvironmentOnce();
  return OpenImage(FindPhysicalMapping(number));
}

DriveType QueryDriveType(char16_t letter) {
  LoadEnvironmentOnce();
  return FindVolumeMapping(letter) ? kDriveFixed : kDriveNoRoot;
}

bool GetFileSystemName(char16_t, std::u16string&) { return false; }

bool MapVolume(char16_t letter, const std::u16string& path) {
  LoadEnvironmentOnce();
  return SetVolumeMapping(letter, path);
}

bool MapPhysicalDrive(int number, const std::u16string& path) {
  LoadEnvironmentOnce();
  return SetPhysicalMapping(number, path);
}

bool IsVolumeMapped(char16_t letter) {
  LoadEnvironmentOnce();
  return FindVolumeMapping(letter).has_value();
}

void ClearMappings() {
  LoadEnvironmentOnce();
  ClearAllMappings();
}

void PostToWindow(void* window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (!window) return;
  auto* sink = static_cast<KestrelSink*>(window);
  if (sink->post) sink->post(sink->context, message, wParam, lParam);
}

// FILETIME counts 100 ns from 1601-01-01; the Unix epoch is 11644473600 s later.
constexpr int64_t kEpochDelta = 116444736000000000LL;
constexpr int64_t kTicksPerSecond = 10000000LL;

static bool LookUpOffset(int64_t unixSeconds, long& offset) {
  time_t t = static_cast<time_t>(unixSeconds);
  struct tm local;
  if (!localtime_r(&t, &local)) return false;
  offset = local.tm_gmtoff;
  return true;
}

// A scan converts one time per item, and items come in bursts of nearby
// times: the offset is kept per UTC quarter hour whose first and last
// second agree (zones change their offset at most once in such a span).
static bool LocalOffsetSeconds(int64_t unixSeconds, long& offset) {
  constexpr int64_t kSpan = 15 * 60;
  struct Cached {
    int64_t span = INT64_MIN;
    long offset = 0;
  };
  // A few spans: an item's times (created, written, accessed on the
  // day's midnight) take turns.
  thread_local Cached cache[8];
  const int64_t span = unixSeconds >= 0 ? unixSeconds / kSpan : (unixSeconds - kSpan + 1) / kSpan;
  Cached& cached = cache[static_cast<uint64_t>(span) % 8];
  if (span == cached.span) {
    offset = cached.offset;
    return true;
  }
  long first = 0, last = 0;
  if (!LookUpOffset(span * kSpan, first) || !LookUpOffset(span * kSpan + kSpan - 1, last))
    return LookUpOffset(unixSeconds, offset);
  if (first != last) return LookUpOffset(unixSeconds, offset);
  cached = {span, first};
  offset = first;
  return true;
}

bool FileTimeToLocal(uint64_t utc, uint64_t& local) {
  int64_t ticks = static_cast<int64_t>(utc);
  if (ticks < 0) return false;
  long offset = 0;
  if (!LocalOffsetSeconds((ticks - kEpochDelta) / kTicksPerSecond, offset)) return false;
  int64_t result = ticks + static_cast<int64_t>(offset) * kTicksPerSecond;
  if (result < 0) return false;
  local = static_cast<uint64_t>(result);
  return true;
}

bool LocalFileTimeToUtc(uint64_t local, uint64_t& utc) {
  int64_t ticks = static_cast<int64_t>(local);
  if (ticks < 0) return false;
  long offset = 0;
  // The offset at the local instant read as UTC; close enough away from DST edges.
  if (!LocalOffsetSeconds((ticks - kEpochDelta) / kTicksPerSecond, offset)) return false;
  int64_t result = ticks - static_cast<int64_t>(offset) * kTicksPerSecond;
  if (result < 0) return false;
  utc = static_cast<uint64_t>(result);
  return true;
}

bool CreateFolderChain(const std::u16string& path) {
  std::string native = NativePath(path);
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  if (native.empty()) return false;
  // Most of the chain is usually there already: make the deepest folder
  // first and go up only as long as a parent is missing.
  std::vector<size_t> missing;  // ends of the prefixes still to make, deepest first
  for (size_t end = native.size();;) {
    if (::mkdir(native.substr(0, end).c_str(), 0777) == 0 || errno == EEXIST) break;
    if (errno != ENOENT) return false;
    missing.push_back(end);
    const size_t cut = native.rfind('/', end - 1);
    if (cut == std::string::npos || cut == 0) return false;  // nothing above it to make
    end = cut;
  }
  for (size_t i = missing.size(); i-- > 0;) {
    if (::mkdir(native.substr(0, missing[i]).c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  struct stat st;
  return ::stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {
FileError ErrorFromErrno(int e) {
  switch (e) {
    case 0: return FileError::None;
    case EEXIST: return FileError::Exists;
    case ENOENT:
    case ENOTDIR: return FileError::NotFound;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return FileError::NoSpace;
    case EACCES:
    case EPERM:
    case EROFS: return FileError::Permission;
    case ENAMETOOLONG:
    case EINVAL:
    case EILSEQ: return FileError::BadName;
    default: return FileError::Other;
  }
}

class PosixOutputFile final : public OutputFile {
 public:
  explicit PosixOutputFile(int fd) : fd_(fd) {}
  ~PosixOutputFile() override { Close(); }
  bool Write(const void* data, size_t length) override {
    const auto* p = static_cast<const uint8_t*>(data);
    while (length > 0) {
      ssize_t n = ::write(fd_, p, length);
      if (n < 0) {
        if (errno == EINTR) continue;
        Failed(errno);
        return false;
      }
      p += n;
      length -= static_cast<size_t>(n);
    }
    extendTo_ = 0;
    return true;
  }
  bool SkipZeros(uint64_t bytes) override {
    off_t at = ::lseek(fd_, 0, SEEK_CUR);
    if (at < 0 || bytes > static_cast<uint64_t>(std::numeric_limits<off_t>::max() - at)) {
      Failed(EFBIG);
      return false;
    }
    at = ::lseek(fd_, static_cast<off_t>(bytes), SEEK_CUR);
    if (at < 0) {
      Failed(errno == EINVAL ? EFBIG : errno);
      return false;
    }
    extendTo_ = static_cast<uint64_t>(at);
    return true;
  }
  bool Close() override {
    if (fd_ >= 0) {
      // A hole at the end gives the file its length only when it is set.
      if (extendTo_ != 0 && ::ftruncate(fd_, static_cast<off_t>(extendTo_)) != 0) Failed(errno);
      if (::close(fd_) != 0) Failed(errno);
      fd_ = -1;
    }
    return !failed_;
  }

 FileError LastError() const override { return error_; }

 private:
  void Failed(int e) {
    failed_ = true;
    error_ = ErrorFromErrno(e);
    if (error_ == FileError::None) error_ = FileError::Other;
  }

  int fd_;
  bool failed_ = false;
  FileError error_ = FileError::None;
  uint64_t extendTo_ = 0;  // the length a trailing hole asks for
};
}  // namespace

std::unique_ptr<OutputFile> CreateOutputFile(const std::u16string& path) {
  int fd = ::open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  return std::make_unique<PosixOutputFile>(fd);
}

std::unique_ptr<OutputFile> CreateNewFile(const std::u16string& path, FileError& error) {
  int fd = ::open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = ErrorFromErrno(errno);
    if (error == FileError::None) error = FileError::Other;
    return nullptr;
  }
  error = FileError::None;
  return std::make_unique<PosixOutputFile>(fd);
}

FileError RenameNoReplace(const std::u16string& from, const std::u16string& to) {
  const std::string a = NativePath(from), b = NativePath(to);
  if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_NOREPLACE) == 0)
    return FileError::None;
  if (errno != EINVAL && errno != ENOSYS) return ErrorFromErrno(errno);
  // File systems without the flag: a hard link cannot replace either.
  if (::link(a.c_str(), b.c_str()) == 0) {
    ::unlink(a.c_str());
    return FileError::None;
  }
  if (errno == EEXIST) return FileError::Exists;
  // No hard links (FAT and the like): look first, then rename.
  struct stat st;
  if (::lstat(b.c_str(), &st) == 0) return FileError::Exists;
  if (::rename(a.c_str(), b.c_str()) == 0) return FileError::None;
  return ErrorFromErrno(errno);
}

std::u16string HostPath(const std::u16string& path) {
  std::u16string p = path;
  for (char16_t& c : p)
    if (c == u'\\') c = u'/';
  return p;
}

bool RemoveFile(const std::u16string& path) { return ::unlink(NativePath(path).c_str()) == 0; }

void SleepMs(unsigned milliseconds) {
  struct timespec ts;
  ts.tv_sec = milliseconds / 1000;
  ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

}  // namespace kestrel::os
