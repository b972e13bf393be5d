#include "kernel/device/SectorReader.h"

#include <algorithm>
#include <cstring>

namespace kestrel {

SectorReader::SectorReader(std::unique_ptr<os::Device> device, uint32_t alignment)
    : device_(std::move(device)), alignment_(512) {
  SetAlignment(alignment);
}

void SectorReader::SetAlignment(uint32_t alignment) {
  if (alignment >= 512 && alignment <= 65536 && (alignment & (alignment - 1)) == 0)
    alignment_ = std::max(alignment_, alignment);
}

bool SectorReader::Read(uint64_t offset, void* buffer, size_t length, size_t& got) {
  got = 0;
  if (!device_) return false;
  if (length == 0) return true;
  const uint64_t align = alignment_;
  if (offset % align == 0 && length % align == 0) return device_->ReadAt(offset, buffer, length, got);
  const uint64_t start = offset - offset % align;
  const uint64_t lead = offset - start;
  if (length > SIZE_MAX - lead - align) return false;
  const size_t span = static_cast<size_t>((lead + length + align - 1) / align * align);
  if (staging_.size() < span) staging_.resize(span);
  size_t read = 0;
  if (!device_->ReadAt(start, staging_.data(), span, read)) return false;
  if (read > lead) {
    got = std::min<size_t>(length, read - lead);
    std::memcpy(buffer, staging_.data() + lead, got);
  }
  return true;
}

bool SectorReader::ReadExact(uint64_t offset, void* buffer, size_t length) {
  size_t got = 0;
  return Read(offset, buffer, length, got) && got == length;
}

}  // namespace kestrel
