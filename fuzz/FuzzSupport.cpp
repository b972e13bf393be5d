#include "fuzz/FuzzSupport.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "kernel/device/VolumeSource.h"
#include "kernel/fat/FatVolume.h"
#include "kernel/device/RawDevice.h"
#include "kernel/os/Os.h"
#include "kernel/os/VolumeTable.h"
#include "tests/ntfs/NtfsTestImage.h"

namespace kestrel::fuzz {
namespace {
std::shared_ptr<const std::vector<uint8_t>> Copy(const uint8_t* data, size_t size, size_t minimum) {
  auto bytes = std::make_shared<std::vector<uint8_t>>(data, data + size);
  if (bytes->size() < minimum) bytes->resize(minimum, 0);
  return bytes;
}
}  // namespace

void MapInputAsVolume(const uint8_t* data, size_t size, size_t minimum) {
  os::ClearMappings();
  os::SetVolumeMemory(u'F', Copy(data, size, minimum));
}

void MapInputAsDisk(const uint8_t* data, size_t size, size_t minimum) {
  os::ClearMappings();
  os::SetPhysicalMemory(0, Copy(data, size, minimum));
}

std::vector<uint8_t> SmallNtfsVolume() {
  static const std::vector<uint8_t> image = [] {
    test::NtfsLayout layout;
    layout.recordBytes = kSmallNtfsRecordBytes;
    layout.mftRecords = kSmallNtfsRecords;
    return test::NtfsTestImage(layout).bytes();
  }();
  return image;
}

void PutRecords(std::vector<uint8_t>& volume, uint64_t first, const uint8_t* data, size_t size) {
  const uint64_t mftOffset = test::NtfsLayout().mftLcn * test::NtfsLayout().clusterBytes;
  if (first >= kSmallNtfsRecords) return;
  size_t room = (kSmallNtfsRecords - first) * kSmallNtfsRecordBytes;
  size = std::min(size, room);
  std::memcpy(volume.data() + mftOffset + first * kSmallNtfsRecordBytes, data, size);
}

void MapBytesAsVolume(std::vector<uint8_t> bytes) {
  os::ClearMappings();
  os::SetVolumeMemory(u'F', std::make_shared<const std::vector<uint8_t>>(std::move(bytes)));
}

void CheckItemPath(const std::u16string& path, size_t prefixLength) {
  if (path.size() > 1023 || path.size() < prefixLength) __builtin_trap();
  size_t start = prefixLength;
  while (start <= path.size()) {
    size_t end = path.find(u'\\', start);
    if (end == std::u16string::npos) end = path.size();
    std::u16string part = path.substr(start, end - start);
    if (part == u"." || part == u"..") __builtin_trap();
    for (char16_t c : part)
      if (c < 0x20 || c == u'/' || c == u':') __builtin_trap();
    start = end + 1;
  }
}

std::unique_ptr<fat::FatVolume> MapInputAsFatVolume(const uint8_t* data, size_t size) {
  MapInputAsVolume(data, size);
  auto volume = std::make_unique<fat::FatVolume>(LetterSource(u'F').OpenWindow(), 512);
  volume->Load();
  return volume;
}

}  // namespace kestrel::fuzz
