#include "kernel/device/VolumeSource.h"

#include <algorithm>

namespace kestrel {
namespace {

class WindowDevice final : public os::Device {
 public:
  WindowDevice(std::unique_ptr<os::Device> device, uint64_t base, uint64_t length)
      : device_(std::move(device)), base_(base), length_(length) {}
  bool ReadAt(uint64_t offset, void* buffer, size_t length, size_t& got) override {
    got = 0;
    if (length_ != 0) {
      if (offset >= length_) return true;
      length = static_cast<size_t>(std::min<uint64_t>(length, length_ - offset));
    }
    if (offset > UINT64_MAX - base_) return false;
    return device_->ReadAt(base_ + offset, buffer, length, got);
  }
  bool Flush() override { return device_->Flush(); }
  bool QueryGeometry(os::DiskGeometry& out) override { return device_->QueryGeometry(out); }
  bool CheckVerify() override { return device_->CheckVerify(); }
  bool QuerySize(uint64_t& bytes) override {
    uint64_t all = 0;
    if (!device_->QuerySize(all)) return false;
    const uint64_t from = std::min(base_, all);
    bytes = length_ != 0 ? std::min(length_, all - from) : all - from;
    return true;
  }

 private:
  std::unique_ptr<os::Device> device_;
  uint64_t base_;
  uint64_t length_;
};

}  // namespace

std::unique_ptr<os::Device> MakeWindowDevice(std::unique_ptr<os::Device> device, uint64_t base,
                                             uint64_t length) {
  if (!device) return nullptr;
  if (base == 0 && length == 0) return device;
  return std::make_unique<WindowDevice>(std::move(device), base, length);
}

std::unique_ptr<os::Device> VolumeSource::OpenWindow() const {
  if (!open) return nullptr;
  return MakeWindowDevice(open(), base, length);
}

VolumeSource LetterSource(char16_t letter) {
  if (letter >= u'a' && letter <= u'z') letter = static_cast<char16_t>(letter - 0x20);
  VolumeSource source;
  source.name = std::u16string(1, letter) + u":";
  source.open = [letter] { return os::OpenVolume(letter, os::Access::Read); };
  return source;
}

}  // namespace kestrel
