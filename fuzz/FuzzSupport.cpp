#include "fuzz/FuzzSupport.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "kernel/device/RawDevice.h"
#include "kernel/os/Os.h"
#include "kernel/os/VolumeTable.h"

namespace kestrel::fuzz {
namespace {
std::shared_ptr<const std::vector<uint8_t>> Copy(const uint8_t* data, size_t size, size_t minimum) {
  auto bytes = std::make_shared<std::vector<uint8_t>>(data, data + size);
  if (bytes->size() < minimum) bytes->resize(minimum, 0);
  return bytes;
}
}  // namespace

void MapInputAsVolume(const uint8_t* data, size_t size, size_t minimum) {
  CloseReadHandles();
  os::ClearMappings();
  os::SetVolumeMemory(u'F', Copy(data, size, minimum));
}

void MapInputAsDisk(const uint8_t* data, size_t size, size_t minimum) {
  CloseReadHandles();
  os::ClearMappings();
  os::SetPhysicalMemory(0, Copy(data, size, minimum));
}

}  // namespace kestrel::fuzz
