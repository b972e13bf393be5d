#include "kernel/CustomDrive.h"

namespace kestrel {

std::unique_ptr<CCustomDrive> CreateFatVolume(const DeviceEntry&, uint32_t, uint32_t) {
  return nullptr;
}

}  // namespace kestrel
