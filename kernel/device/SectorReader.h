// The one way engines read a volume: byte ranges at volume offsets, asked
// of the device only as whole, aligned sectors (Windows refuses anything
// else on raw volumes, Wine quietly allows it). Each open volume owns its
// reader; nothing here is shared between volumes or threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "kernel/os/Os.h"

namespace kestrel {

class SectorReader {
 public:
  // `device` reads the volume from its offset 0. `alignment` is the device's
  // sector size (at least 512, a power of two).
  SectorReader(std::unique_ptr<os::Device> device, uint32_t alignment);
  SectorReader(const SectorReader&) = delete;
  SectorReader& operator=(const SectorReader&) = delete;

  bool IsOpen() const { return device_ != nullptr; }
  uint32_t Alignment() const { return alignment_; }
  os::Device* Device() const { return device_.get(); }
  // Raises the alignment once the volume's own sector size is known.
  void SetAlignment(uint32_t alignment);

  // Reads `length` bytes at `offset`. False on an I/O error; `got` may be
  // short at the end of the device. An unaligned request reads the
  // enclosing sectors and copies out.
  bool Read(uint64_t offset, void* buffer, size_t length, size_t& got);
  // True only when all `length` bytes arrive.
  bool ReadExact(uint64_t offset, void* buffer, size_t length);

 private:
  std::unique_ptr<os::Device> device_;
  uint32_t alignment_;
  std::vector<uint8_t> staging_;
};

}  // namespace kestrel
