// Where a volume's bytes come from: a device that can be opened again (the
// NTFS scan reads ahead on a second handle), and the byte window of the
// volume on it (a partition of a whole disk, or all of a lettered volume).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "kernel/os/Os.h"

namespace kestrel {

struct VolumeSource {
  std::u16string name;    // "D:", or "fixed disk #1, partition 2"
  // A fresh read handle on the whole device; null when it cannot be opened.
  std::function<std::unique_ptr<os::Device>()> open;
  uint64_t base = 0;      // byte offset of the volume on the device
  uint64_t length = 0;    // bytes of the volume; 0: to the device's end
  uint32_t deviceSectorBytes = 512;  // what reads are aligned to

  // A handle that reads the volume's window only: offsets from its start,
  // clipped at its end. Null when the device cannot be opened.
  std::unique_ptr<os::Device> OpenWindow() const;
};

// The source of a lettered volume ("\\.\X:" or what the letter is mapped to).
VolumeSource LetterSource(char16_t letter);

// A window of an open device as a device of its own.
std::unique_ptr<os::Device> MakeWindowDevice(std::unique_ptr<os::Device> device, uint64_t base,
                                             uint64_t length);

}  // namespace kestrel
